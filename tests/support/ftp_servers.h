// Real FTP servers for interoperability tests: pyftpdlib, vsftpd and
// pure-ftpd, each started by the test on 127.0.0.1 at a free port, with a
// private configuration and a private served folder, and stopped (its whole
// process tree) when the launcher goes.
//
// scripts/setup-test-servers.sh installs them and the test account. A test
// whose server cannot run here skips with the reason:
//
//   RealFtpServer server(FtpServerKind::kVsftpd);
//   PELLAN_START_FTP_SERVER_OR_SKIP(server);
//   server.PutFile("in/R1.txt", "hello");
//   ... log in at 127.0.0.1:server.Port() as server.User()/server.Password()
//   EXPECT_EQ(ReadWholeFile(server.LocalPath("up/T1.txt")), "...");
//
// As root, every server runs its sessions as the unprivileged test account,
// which owns the served folder (so permission failures can be provoked).
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace pellan::test {

enum class FtpServerKind { kPyftpdlib, kVsftpd, kPureFtpd };
const char* FtpServerKindName(FtpServerKind kind);  // "pyftpdlib", "vsftpd", "pure-ftpd"
// All kinds, for parameterised tests.
std::vector<FtpServerKind> AllFtpServerKinds();
// The name as a test's name may hold it ("pureftpd").
inline std::string FtpServerTestName(FtpServerKind kind) {
  std::string name = FtpServerKindName(kind);
  return std::erase(name, '-'), name;
}

// The account every test server accepts (made by the set-up script).
inline constexpr char kTestFtpUser[] = "pellanftp";
inline constexpr char kTestFtpPassword[] = "pellan-test-pw";

class RealFtpServer {
 public:
  explicit RealFtpServer(FtpServerKind kind);
  ~RealFtpServer();
  RealFtpServer(const RealFtpServer&) = delete;
  RealFtpServer& operator=(const RealFtpServer&) = delete;

  // "" when this server can run here; otherwise why not (not installed, not
  // root, test account missing), in words a skipped test can show.
  std::string Unavailable() const;
  // Options added to the server's command line (vsftpd: "-oimplicit_ssl=YES").
  void AddOptions(std::vector<std::string> options) { m_options = std::move(options); }
  // Starts the server and waits (bounded) until it listens; false with
  // Error() and the server's own output when it did not come up.
  bool Start();
  // Stops the server with every session it started. Also done by the
  // destructor.
  void Stop();

  const char* Name() const { return FtpServerKindName(m_kind); }
  // The loopback address it listens on: 127.0.0.1, or ::1 after UseIpv6()
  // (vsftpd and pure-ftpd).
  const char* Host() const { return m_ipv6 ? "::1" : "127.0.0.1"; }
  void UseIpv6() { m_ipv6 = true; }
  // TLS required for the login and every data connection, with a
  // certificate made for 127.0.0.1 and ::1 (CertFile(), which clients take
  // as their CA file). vsftpd also requires each data
  // connection to resume the control connection's session.
  void UseTls(std::string names = "IP:127.0.0.1,IP:::1") { m_tls = true, m_tlsNames = std::move(names); }
  std::string CertFile() const { return m_work.File("cert.pem"); }
  uint16_t Port() const { return m_port; }
  uint16_t PassiveFirst() const { return m_passiveFirst; }
  uint16_t PassiveLast() const { return m_passiveLast; }
  std::string User() const { return kTestFtpUser; }
  std::string Password() const { return kTestFtpPassword; }

  // The served folder: "/" of the FTP session.
  const std::string& Root() const { return m_root; }
  // The local path of a path relative to the served folder.
  std::string LocalPath(const std::string& remotePath) const;
  // Writes a file into the served folder (folders made as needed), owned by
  // the account the sessions run as. False on failure.
  bool PutFile(const std::string& remotePath, const std::string& content) const;
  bool MakeFolder(const std::string& remotePath) const;

  const std::string& Error() const { return m_error; }
  std::string Log() const;  // what the server wrote to stdout/stderr

 private:
  // Writes the configuration for Port(), PassiveFirst()/Last() and Root()
  // into the private folder and gives the command that starts the server
  // (argv[0] an absolute path); empty with m_error on failure.
  std::vector<std::string> Configure();
  bool Spawn(std::vector<std::string> command);
  bool WaitListening();

  FtpServerKind m_kind;
  TempDir m_work;
  std::string m_root;
  pid_t m_pid = -1;
  uint16_t m_port = 0;
  uint16_t m_passiveFirst = 0;
  uint16_t m_passiveLast = 0;
  std::string m_error;
  std::vector<std::string> m_options;
  bool m_ipv6 = false;
  bool m_tls = false;
  std::string m_tlsNames;  // the certificate's subjectAltName
};

// One server of each kind for the whole test program, made on first use.
RealFtpServer& SharedFtpServer(FtpServerKind kind);
// A port on 127.0.0.1 that nobody listened on a moment ago.
uint16_t FreeLoopbackPort();

}  // namespace pellan::test

// Starts `server`, or skips the test when it cannot run on this machine.
#define PELLAN_START_FTP_SERVER_OR_SKIP(server)                          \
  do {                                                                   \
    const std::string pellanWhyNot = (server).Unavailable();             \
    if (!pellanWhyNot.empty()) GTEST_SKIP() << pellanWhyNot;             \
    ASSERT_TRUE((server).Start()) << (server).Error() << "\n" << (server).Log(); \
  } while (0)
