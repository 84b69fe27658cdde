// Transfers through tolvarftp beside lftp and curl, against pure-ftpd on
// loopback (the fastest server here), each client a process of its own:
// one large file up and down, and a folder of many small files up and
// down. Clients take turns (A B C, then B C A, ...) so that a noisy machine hits all of
// them alike; the figures are wall time, throughput and each process's peak
// resident memory, and the ratios tolvarftp / other client within this run.
//
//   build/normal/bench/transfer_bench [--size-mb 1024] [--files 1000] [--rounds 2] [--only TEXT]
//                                    [--limit-rate RATE] [--tls 1]
//
// --only runs the cases whose name holds TEXT (as "MiB down"). --limit-rate
// (500k, 20M: 1024-based) holds every client to RATE bytes a second (lftp's
// net:limit-rate, curl's --limit-rate) and prints the time the large file
// should take at that rate. --tls 1 runs every client over TLS (AUTH TLS,
// data protected; lftp's ftp:ssl-force and ftp:ssl-protect-data, curl's
// --ssl-reqd), pure-ftpd requiring it, each client trusting its certificate.
//
// Runs as root (pure-ftpd sessions run as the test account); needs lftp and
// curl (scripts/install-deps.sh bench) and the test servers
// (scripts/setup-test-servers.sh).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/ftp_servers.h"
#include "support/test_env.h"
#include "support/text.h"

namespace {

namespace fs = std::filesystem;
using PureFtpdServer = pellan::test::RealFtpServer;

struct Sample {
  double seconds = 0;
  double cpuSeconds = 0;  // user + system: what a busy machine disturbs least
  long maxRssKb = 0;
  bool ok = false;
};

// Runs argv to its end with stdout/stderr into `log`; wall time and the
// child's own peak RSS and CPU time.
Sample Run(const std::vector<std::string>& argv, const std::string& log) {
  Sample s;
  // Dirty pages of the previous run would be written back during this one.
  sync();
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    std::vector<char*> cargv;
    for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    execvp(cargv[0], cargv.data());
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  s.maxRssKb = ru.ru_maxrss;
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  s.cpuSeconds = secs(ru.ru_utime) + secs(ru.ru_stime);
  s.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return s;
}

// Connections to the server's ports in TIME_WAIT now (IPv4): thousands of
// them slow the next run of small files, so those runs wait for them to
// drain (bounded).
int TimeWaitCount(const PureFtpdServer& server) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  int count = 0;
  std::getline(in, line);
  while (std::getline(in, line)) {
    char state[8] = {0};
    unsigned localPort = 0, remotePort = 0;
    if (std::sscanf(line.c_str(), "%*s %*x:%x %*x:%x %7s", &localPort, &remotePort, state) != 3 ||
        std::strcmp(state, "06") != 0) {
      continue;
    }
    for (unsigned port : {localPort, remotePort}) {
      if (port == server.Port() || (port >= server.PassiveFirst() && port <= server.PassiveLast())) {
        ++count;
        break;
      }
    }
  }
  return count;
}

void Drain(int limitSeconds, const PureFtpdServer& server) {
  for (int waited = 0; waited < limitSeconds && TimeWaitCount(server) > 50; ++waited) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
}

bool WriteFile(const std::string& path, size_t size, unsigned seed) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string block(1 << 20, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : block) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  for (size_t left = size; left > 0;) {
    const size_t n = std::min(left, block.size());
    out.write(block.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
  return static_cast<bool>(out);
}

int64_t TreeBytes(const std::string& dir, int* files) {
  int64_t total = 0;
  *files = 0;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
    if (e.is_regular_file()) {
      total += static_cast<int64_t>(e.file_size());
      ++*files;
    }
  }
  return total;
}

struct Client {
  std::string name;
  // argv for: a file up (local, remote), a file down (remote, local), a
  // folder up (local, remote), a folder down (remote, local). Empty: not run.
  std::function<std::vector<std::string>(const std::string&, const std::string&)> put, get, putTree, getTree;
};

}  // namespace

int main(int argc, char** argv) {
  long sizeMb = 1024, files = 1000, rounds = 2;
  std::string only, rate;
  bool tls = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const long v = std::strtol(argv[i + 1], nullptr, 10);
    if (a == "--only")
      only = argv[i + 1];
    else if (a == "--limit-rate")
      rate = argv[i + 1];
    else if (a == "--tls")
      tls = v != 0;
    else if (a == "--size-mb")
      sizeMb = v;
    else if (a == "--files")
      files = v;
    else if (a == "--rounds")
      rounds = v;
  }
  PureFtpdServer server(pellan::test::FtpServerKind::kPureFtpd);
  if (tls) server.UseTls();
  if (const std::string why = server.Unavailable(); !why.empty()) {
    std::fprintf(stderr, "transfer_bench: %s\n", why.c_str());
    return 1;
  }
  for (const char* tool : {"/usr/bin/lftp", "/usr/bin/curl"}) {
    if (access(tool, X_OK) != 0) {
      std::fprintf(stderr, "transfer_bench: %s missing (scripts/install-deps.sh bench)\n", tool);
      return 1;
    }
  }
  if (!server.Start()) {
    std::fprintf(stderr, "transfer_bench: pure-ftpd did not start: %s\n%s\n", server.Error().c_str(),
                 server.Log().c_str());
    return 1;
  }
  pellan::test::TempDir work;
  const std::string log = work.File("clients.log");
  const std::string port = std::to_string(server.Port());
  const std::string userPass = server.User() + "," + server.Password();
  const std::string url = "ftp://127.0.0.1:" + port;
  setenv("TOLVARFTP_PASSWORD", server.Password().c_str(), 1);
  setenv("XDG_STATE_HOME", work.Path().c_str(), 1);  // the engine's log

  const std::string big = work.File("big.bin");
  const std::string small = work.File("small");
  fs::create_directories(small);
  const int64_t bigBytes = int64_t{sizeMb} << 20;
  WriteFile(big, static_cast<size_t>(bigBytes), 1);
  for (long i = 0; i < files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/f%04ld.dat", i);
    WriteFile(small + name, 4096, static_cast<unsigned>(i + 2));
  }
  // The server's copies to download.
  server.MakeFolder("src/small");
  fs::copy_file(big, server.LocalPath("src/big.bin"));
  fs::copy(small, server.LocalPath("src/small"));
  const std::string owner = "chown -R " + server.User() + ": " + server.LocalPath("src");
  if (std::system(owner.c_str()) != 0) std::fprintf(stderr, "transfer_bench: chown failed\n");

  const std::string tv = PELLAN_BINARY_DIR "/tolvarftp";
  auto tolvar = [&](const std::string& command) {
    std::vector<std::string> args{tv,       "--host",      "127.0.0.1",   "--port", port,
                                  "--user", server.User(), "--overwrite", "-c",     command};
    if (!rate.empty()) args.insert(args.end() - 2, {"--limit-rate", rate});
    if (tls) args.insert(args.end() - 2, {"--tls", "require", "--tls-ca", server.CertFile()});
    return args;
  };
  auto lftp = [&](const std::string& command) {
    std::string settings =
        "set net:max-retries 2; set net:reconnect-interval-base 1; "
        "set ftp:passive-mode on; set xfer:clobber on; ";
    if (!rate.empty()) settings += "set net:limit-rate " + rate + "; ";
    if (tls)
      settings += "set ftp:ssl-force yes; set ftp:ssl-protect-data yes; set ssl:ca-file " + server.CertFile();
    else
      settings += "set ftp:ssl-allow no";
    return std::vector<std::string>{
        "lftp", "-c", settings + "; open -u " + userPass + " -p " + port + " 127.0.0.1; " + command};
  };
  auto curl = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"curl", "-sS", "--user", server.User() + ":" + server.Password()});
    if (!rate.empty()) args.insert(args.begin() + 1, {"--limit-rate", rate});
    if (tls) args.insert(args.begin() + 1, {"--ssl-reqd", "--cacert", server.CertFile()});
    return args;
  };
  std::vector<Client> clients = {
      {"tolvarftp", [&](auto& l, auto& r) { return tolvar("put " + l + " " + r); },
       [&](auto& r, auto& l) { return tolvar("get " + r + " " + l); },
       [&](auto& l, auto& r) { return tolvar("put " + l + "/ " + r + "/"); },
       [&](auto& r, auto& l) { return tolvar("get " + r + "/ " + l + "/"); }},
      {"lftp", [&](auto& l, auto& r) { return lftp("put " + l + " -o " + r); },
       [&](auto& r, auto& l) { return lftp("get " + r + " -o " + l); },
       [&](auto& l, auto& r) { return lftp("mirror -R " + l + " " + r); },
       [&](auto& r, auto& l) { return lftp("mirror " + r + " " + l); }},
      {"curl",
       [&](auto& l, auto& r) {
         return curl({"-T", l, url + r});
       },
       [&](auto& r, auto& l) {
         return curl({"-o", l, url + r});
       },
       nullptr, nullptr},
  };

  // results[case][client] = samples
  std::map<std::string, std::map<std::string, std::vector<Sample>>> results;
  std::vector<std::string> caseOrder;
  auto record = [&](const std::string& c, const std::string& client, Sample s) {
    if (std::find(caseOrder.begin(), caseOrder.end(), c) == caseOrder.end()) caseOrder.push_back(c);
    results[c][client].push_back(s);
  };

  const std::string bigCase = "1 file of " + std::to_string(sizeMb) + " MiB";
  const std::string smallCase = std::to_string(files) + " files of 4 KiB";
  auto wanted = [&](const std::string& c) { return c.find(only) != std::string::npos; };
  for (long round = 1; round <= rounds; ++round) {
    // Each round starts with the next client, so none always runs first.
    std::vector<Client> turn = clients;
    std::rotate(turn.begin(), turn.begin() + (round - 1) % static_cast<long>(turn.size()), turn.end());
    for (const Client& c : turn) {
      if (wanted(bigCase + " up")) {
        const std::string remote = "/up-" + c.name + ".bin";
        Sample s = Run(c.put(big, remote), log);
        s.ok = s.ok && fs::exists(server.LocalPath(remote.substr(1))) &&
               static_cast<int64_t>(fs::file_size(server.LocalPath(remote.substr(1)))) == bigBytes;
        fs::remove(server.LocalPath(remote.substr(1)));
        record(bigCase + " up", c.name, s);
      }
      if (wanted(bigCase + " down")) {
        const std::string local = work.File("down-" + c.name + ".bin");
        Sample s = Run(c.get("/src/big.bin", local), log);
        s.ok = s.ok && fs::exists(local) && static_cast<int64_t>(fs::file_size(local)) == bigBytes;
        fs::remove(local);
        record(bigCase + " down", c.name, s);
      }
    }
    for (const Client& c : turn) {
      if (!c.putTree) continue;
      int count = 0;
      if (wanted(smallCase + " up")) {
        const std::string remote = "/tree-" + c.name;
        Drain(65, server);
        Sample s = Run(c.putTree(small, remote), log);
        s.ok =
            s.ok && TreeBytes(server.LocalPath(remote.substr(1)), &count) == files * 4096 && count == files;
        fs::remove_all(server.LocalPath(remote.substr(1)));
        record(smallCase + " up", c.name, s);
      }
      if (wanted(smallCase + " down")) {
        const std::string local = work.File("tree-" + c.name);
        Drain(65, server);
        Sample s = Run(c.getTree("/src/small", local), log);
        s.ok = s.ok && TreeBytes(local, &count) == files * 4096 && count == files;
        fs::remove_all(local);
        record(smallCase + " down", c.name, s);
      }
    }
  }

  std::string over;
  if (tls) {
    // The version and cipher tolvarftp's session settles on (--verbose says them).
    std::vector<std::string> args = tolvar("pwd");
    args.insert(args.end() - 2, "--verbose");
    Run(args, work.File("tls.log"));
    const std::string text = pellan::test::ReadWholeFile(work.File("tls.log"));
    const size_t at = text.find("TLS: ");
    const std::string cipher =
        at == std::string::npos ? "?" : text.substr(at + 5, text.find('\n', at) - at - 5);
    over = " over TLS (required; " + cipher + ")";
  }
  std::printf(
      "pure-ftpd on 127.0.0.1%s, %ld round(s), clients in turn (A B C, B C A, ...); best of the rounds\n",
      over.c_str(), rounds);
  if (!rate.empty()) {
    const double perSecond = pellan::ParseRate(rate);
    std::printf("limited to %s = %.0f bytes/s: the large file should take %.2f s\n", rate.c_str(), perSecond,
                static_cast<double>(bigBytes) / perSecond);
  }
  std::printf("%-28s %-10s %9s %10s %9s %8s %12s %s\n", "case", "client", "seconds", "MB/s", "peak RSS",
              "CPU s", "tolvarftp/x", "all rounds (s)");
  bool allOk = true;
  for (const std::string& c : caseOrder) {
    auto best = [&](const std::vector<Sample>& v) {
      double b = 1e300;
      for (const Sample& s : v) b = std::min(b, s.seconds);
      return b;
    };
    const double mine = best(results[c]["tolvarftp"]);
    for (const Client& client : clients) {
      const auto it = results[c].find(client.name);
      if (it == results[c].end()) continue;
      const double secs = best(it->second);
      long rss = 0;
      double cpu = 1e300;
      bool ok = true;
      std::string all;
      for (const Sample& s : it->second) {
        rss = std::max(rss, s.maxRssKb);
        cpu = std::min(cpu, s.cpuSeconds);
        ok = ok && s.ok;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%s%.2f", all.empty() ? "" : " ", s.seconds);
        all += buf;
      }
      allOk = allOk && ok;
      const double bytes = c.rfind("1 file", 0) == 0 ? static_cast<double>(bigBytes) : files * 4096.0;
      char ratio[16] = "";
      if (client.name != "tolvarftp") std::snprintf(ratio, sizeof ratio, "%.2f", mine / secs);
      std::printf("%-28s %-10s %9.2f %10.0f %6.1f MB %8.2f %12s %s%s\n", c.c_str(), client.name.c_str(), secs,
                  bytes / secs / 1e6, rss / 1024.0, cpu, ratio, all.c_str(), ok ? "" : "  FAILED (see log)");
    }
  }
  if (!allOk) {
    const std::string text = pellan::test::ReadWholeFile(log);
    std::printf("client output (end):\n%s\n",
                text.substr(text.size() > 3000 ? text.size() - 3000 : 0).c_str());
  }
  std::printf("(tolvarftp/x < 1: tolvarftp is faster)\n");
  return allOk ? 0 : 1;
}
