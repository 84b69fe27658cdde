// A folder of 10,000 files listed over loopback by `tolvarftp ls dir/` and by
// `curl -s ftp://.../dir/` (which sends LIST), side by side in one run
// against one server, A B A B; prints each client's wall times and the
// ratio of the medians (tolvarftp / curl). tolvarftp parses the listing into
// records and prints them; curl copies the raw listing.
//
//   build/normal/bench/listing_bench_vs_curl [--server pure-ftpd|vsftpd|pyftpdlib]
//       [--files N] [--rounds N] [--active]
//
// Needs curl (scripts/install-deps.sh bench) and the test servers
// (scripts/setup-test-servers.sh); vsftpd and pure-ftpd need root.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/ftp_servers.h"

namespace {

using pellan::test::FtpServerKind;

struct Run {
  double ms = 0;
  long lines = 0;  // lines the client wrote
  int status = -1;
};

// Runs argv with stdout into a pipe (lines counted, nothing kept), stderr
// kept, and the extra environment given; the wall time covers the whole
// process, start to exit.
Run Time(const std::vector<std::string>& args, const std::vector<std::string>& env, std::string* errors) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return {};
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  Run run;
  char buf[65536];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) run.lines += std::count(buf, buf + n, '\n');
  for (ssize_t n; (n = read(err[0], buf, sizeof buf)) > 0;) errors->append(buf, static_cast<size_t>(n));
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

int Usage() {
  std::fprintf(stderr, "usage: listing_bench_vs_curl [--server pure-ftpd|vsftpd|pyftpdlib] [--files N] [--rounds N] [--active]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  FtpServerKind kind = FtpServerKind::kPureFtpd;  // the fastest server: the client's share shows most
  int files = 10000, rounds = 7;
  bool active = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--server" && more) {
      const std::string v = argv[++i];
      if (v == "pure-ftpd") kind = FtpServerKind::kPureFtpd;
      else if (v == "vsftpd") kind = FtpServerKind::kVsftpd;
      else if (v == "pyftpdlib") kind = FtpServerKind::kPyftpdlib;
      else return Usage();
    } else if (a == "--files" && more) {
      files = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--rounds" && more) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--active") {
      active = true;
    } else {
      return Usage();
    }
  }

  const std::string curl = "/usr/bin/curl";
  const std::string tolvarftp = PELLAN_BINARY_DIR "/tolvarftp";
  if (access(curl.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "curl is missing (scripts/install-deps.sh bench installs it)\n");
    return 1;
  }
  if (access(tolvarftp.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "%s is missing: build the project first\n", tolvarftp.c_str());
    return 1;
  }
  auto server = std::make_unique<pellan::test::RealFtpServer>(kind);
  if (const std::string why = server->Unavailable(); !why.empty()) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  if (!server->Start()) {
    std::fprintf(stderr, "%s\n%s\n", server->Error().c_str(), server->Log().c_str());
    return 1;
  }
  for (int i = 0; i < files; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "dir/R%05d report.txt", i);
    if (!server->PutFile(name, std::string(static_cast<size_t>(i % 100), 'x'))) {
      std::fprintf(stderr, "cannot write %s\n", name);
      return 1;
    }
  }

  const std::string port = std::to_string(server->Port());
  const std::vector<std::string> ours = {tolvarftp, "--host", server->Host(), "--port", port, "--user", server->User(),
                                         "--keepalive", "0", "-c", "ls dir/"};
  std::vector<std::string> theirs = {curl, "-q", "-s", "-S", "--noproxy", "*",
                                     "ftp://" + server->User() + ":" + server->Password() + "@" + server->Host() + ":" +
                                         port + "/dir/"};
  std::vector<std::string> oursArgs = ours;
  if (active) {
    oursArgs.insert(oursArgs.begin() + 1, "--active");
    theirs.insert(theirs.begin() + 1, {"--ftp-port", server->Host()});
  }
  const std::vector<std::string> env = {"TOLVARFTP_PASSWORD=" + server->Password()};

  std::printf("listing of %d files from %s over loopback, %s mode, %d rounds (A B A B)\n", files, server->Name(),
              active ? "active" : "passive", rounds);
  std::vector<double> a, b;
  for (int r = -1; r < rounds; ++r) {  // round -1 warms up both
    std::string errors;
    const Run x = Time(oursArgs, env, &errors);
    const Run y = Time(theirs, {}, &errors);
    if (x.status != 0 || y.status != 0 || x.lines != files || y.lines != files) {
      std::fprintf(stderr, "round %d: tolvarftp exit %d, %ld lines; curl exit %d, %ld lines\n%s", r, x.status, x.lines,
                   y.status, y.lines, errors.c_str());
      return 1;
    }
    if (r < 0) continue;
    a.push_back(x.ms);
    b.push_back(y.ms);
    std::printf("  round %d: tolvarftp %8.1f ms   curl %8.1f ms\n", r + 1, x.ms, y.ms);
  }
  const double ma = Median(a), mb = Median(b);
  std::printf("median: tolvarftp %.1f ms, curl %.1f ms\n", ma, mb);
  std::printf("ratio tolvarftp/curl (wall time, median): %.2f\n", ma / mb);
  server->Stop();
  return 0;
}
