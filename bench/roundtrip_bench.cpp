// One command's round trip through the engine: 1,000 sequential
// GetCurrentDirectory calls in one session against a real server on
// loopback, in microseconds per call, next to the same PWDs sent by a plain
// blocking client (the server's own share). Needs the test servers
// (scripts/setup-test-servers.sh) and root; run a release build:
//   build/normal/bench/roundtrip_bench [calls]
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ftp/ftp_library.h"
#include "support/encrypt.h"
#include "support/ftp_servers.h"
#include "support/raw_ftp_client.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace {

using Clock = std::chrono::steady_clock;
using pellan::test::FtpServerKind;

struct Figures {
  double mean = 0, median = 0, p99 = 0, worst = 0;
};

Figures Summarise(std::vector<double> us) {
  Figures f;
  if (us.empty()) return f;
  double total = 0;
  for (double u : us) total += u;
  std::sort(us.begin(), us.end());
  f.mean = total / static_cast<double>(us.size());
  f.median = us[us.size() / 2];
  f.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  f.worst = us.back();
  return f;
}

void Print(const char* server, const char* client, int calls, const Figures& f) {
  std::printf("%-10s %-22s %5d calls: mean %7.1f us, median %7.1f us, p99 %7.1f us, worst %8.1f us\n", server,
              client, calls, f.mean, f.median, f.p99, f.worst);
}

// The engine: one session, `calls` GetCurrentDirectory, each timed.
bool EngineRoundTrips(const pellan::test::RealFtpServer& server, int calls, Figures* out) {
  pellan::test::ScopedLoop loop;
  pellan::CEncrypt cipher;
  pellan::FtpLibrary ftp;
  ftp.SetKeepConnSecond(0);
  ftp.SetServerName(cipher.EncryptSiteInfo(server.Host(), "base64"));
  ftp.SetRemotePort(server.Port());
  ftp.SetUserName(cipher.EncryptSiteInfo(server.User(), "base64"));
  ftp.SetPassWord(cipher.EncryptSiteInfo(server.Password(), "base64"));
  if (!ftp.Connect()) {
    std::fprintf(stderr, "%s: login failed: %ld %s\n", server.Name(), ftp.ErrorNumber(), ftp.ErrorInfo().c_str());
    return false;
  }
  for (int i = 0; i < 50; ++i) ftp.GetCurrentDirectory();  // warm-up
  std::vector<double> us;
  us.reserve(static_cast<size_t>(calls));
  for (int i = 0; i < calls; ++i) {
    const auto start = Clock::now();
    const std::string dir = ftp.GetCurrentDirectory();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (dir != "/") {
      std::fprintf(stderr, "%s: PWD %d gave \"%s\" (%ld %s)\n", server.Name(), i, dir.c_str(), ftp.ErrorNumber(),
                   ftp.ErrorInfo().c_str());
      return false;
    }
  }
  ftp.CloseConnection();
  *out = Summarise(std::move(us));
  return true;
}

// The code of the next whole reply from `client` (the final line of a
// multi-line one, "DDD text"), taken from what it received; -1 on time-out.
int ReplyCode(pellan::test::RawFtpClient& client) {
  std::string& in = client.Received();
  size_t end = std::string::npos;
  const auto whole = [&] {
    for (size_t from = 0, eol; (eol = in.find("\r\n", from)) != std::string::npos; from = eol + 2) {
      if (eol - from >= 4 && in[from + 3] == ' ' && in.compare(from, 3, in, 0, 3) == 0) {
        end = eol + 2;
        return true;
      }
    }
    return false;
  };
  if (!pellan::CurrentLoop().WaitFor(whole, std::chrono::seconds(10))) return -1;
  const int code = std::atoi(in.substr(0, 3).c_str());
  in.erase(0, end);
  return code;
}

int Command(pellan::test::RawFtpClient& client, const std::string& line) {
  return client.Send(line + "\r\n") ? ReplyCode(client) : -1;
}

// A blocking client without the engine: what the server and the loopback
// take on their own.
bool RawRoundTrips(const pellan::test::RealFtpServer& server, int calls, Figures* out) {
  pellan::test::RawFtpClient client;
  const int fd = pellan::test::RawFtpClient::ConnectTo(server.Port());
  if (fd >= 0) client.Adopt(fd);
  const bool in = fd >= 0 && ReplyCode(client) == 220 &&
                  Command(client, "USER " + server.User()) == 331 &&
                  Command(client, "PASS " + server.Password()) == 230;
  if (!in) {
    std::fprintf(stderr, "%s: raw login failed: %s%s\n", server.Name(), std::strerror(errno),
                 client.Received().c_str());
    return false;
  }
  for (int i = 0; i < 50; ++i) Command(client, "PWD");
  std::vector<double> us;
  us.reserve(static_cast<size_t>(calls));
  for (int i = 0; i < calls; ++i) {
    const auto start = Clock::now();
    const int code = Command(client, "PWD");
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (code != 257) {
      std::fprintf(stderr, "%s: raw PWD %d gave %d\n", server.Name(), i, code);
      return false;
    }
  }
  Command(client, "QUIT");
  *out = Summarise(std::move(us));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  int failures = 0;
  for (FtpServerKind kind : {FtpServerKind::kVsftpd, FtpServerKind::kPyftpdlib, FtpServerKind::kPureFtpd}) {
    auto server = std::make_unique<pellan::test::RealFtpServer>(kind);
    const std::string whyNot = server->Unavailable();
    if (!whyNot.empty()) {
      std::printf("%-10s skipped: %s\n", server->Name(), whyNot.c_str());
      continue;
    }
    if (!server->Start()) {
      std::fprintf(stderr, "%s did not start: %s\n%s\n", server->Name(), server->Error().c_str(),
                   server->Log().c_str());
      ++failures;
      continue;
    }
    Figures engine, raw;
    if (EngineRoundTrips(*server, calls, &engine)) {
      Print(server->Name(), "FtpLibrary PWD", calls, engine);
    } else {
      ++failures;
    }
    if (RawRoundTrips(*server, calls, &raw)) {
      Print(server->Name(), "blocking client PWD", calls, raw);
    } else {
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
