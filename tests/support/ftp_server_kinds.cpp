// The three real servers: where each is installed and its private
// configuration. scripts/setup-test-servers.sh puts them in place.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/ftp_servers.h"

namespace pellan::test {

namespace {

constexpr char kSetupHint[] = " (scripts/setup-test-servers.sh installs it, as root)";
// The same SHA-512 crypt hash of kTestFtpPassword as the set-up script gives
// the system account: a fast hash keeps every login at a few milliseconds.
constexpr char kTestFtpPasswordHash[] =
    "$6$pellantestsalt$IFpuEZ3AoLJzn0V2oSxHyMwz6KuRkxOnfrWqYp8dBl8zSLY1QiUSD4JqOeOwlxtJRTqnsAbx9PiAKAgz2MO010";

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

std::string RootAndAccount(const char* server) {
  if (geteuid() != 0) return std::string(server) + " needs root to start sessions as the test account";
  if (getpwnam(kTestFtpUser) == nullptr) return std::string("the test account ") + kTestFtpUser + " is missing" + kSetupHint;
  return "";
}

// pure-ftpd is unpacked privately (its package conflicts with vsftpd's);
// a system-wide one serves as well.
std::string PureFtpdPrefix() {
  for (const char* prefix : {"/opt/pellan-test/pure-ftpd/usr", "/usr"}) {
    if (Executable(std::string(prefix) + "/sbin/pure-ftpd") && Executable(std::string(prefix) + "/bin/pure-pw")) {
      return prefix;
    }
  }
  return "";
}

}  // namespace

// ---- pyftpdlib -------------------------------------------------------------

// Debian's interpreter, not whichever python3 comes first on PATH: only it
// sees the python3-pyftpdlib package.
constexpr char kDebianPython[] = "/usr/bin/python3";

std::string PyftpdlibServer::Unavailable() const {
  if (!Executable(kDebianPython)) return std::string("no ") + kDebianPython + kSetupHint;
  if (!std::filesystem::exists("/usr/lib/python3/dist-packages/pyftpdlib/__init__.py")) {
    return std::string("python3-pyftpdlib is not installed") + kSetupHint;
  }
  return "";
}

bool PyftpdlibServer::RunAsTestUser() const { return true; }

bool PyftpdlibServer::Configure(std::string& error) {
  // A copy in the private folder, which the test account can read wherever
  // the source tree is.
  std::error_code ec;
  const std::string script = WorkDir() + "/pyftpdlib_server.py";
  std::filesystem::copy_file(PELLAN_SOURCE_DIR "/tests/support/pyftpdlib_server.py", script,
                             std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) {
    error = "cannot copy the pyftpdlib script: " + ec.message();
    return false;
  }
  std::filesystem::permissions(script, std::filesystem::perms(0644), ec);
  return true;
}

std::vector<std::string> PyftpdlibServer::Command() const {
  return {kDebianPython, WorkDir() + "/pyftpdlib_server.py", "--port", std::to_string(Port()), "--root", Root(),
          "--user", User(), "--password", Password(), "--passive",
          std::to_string(PassiveFirst()) + "-" + std::to_string(PassiveLast())};
}

// ---- vsftpd ----------------------------------------------------------------

constexpr char kVsftpd[] = "/usr/sbin/vsftpd";
constexpr char kVsftpdPamService[] = "pellan-ftp-test";  // /etc/pam.d/pellan-ftp-test

std::string VsftpdServer::Unavailable() const {
  if (!Executable(kVsftpd)) return std::string("vsftpd is not installed") + kSetupHint;
  if (!std::filesystem::exists(std::string("/etc/pam.d/") + kVsftpdPamService)) {
    return std::string("the PAM service ") + kVsftpdPamService + " is missing" + kSetupHint;
  }
  return RootAndAccount("vsftpd");
}

bool VsftpdServer::Configure(std::string& error) {
  const std::string empty = WorkDir() + "/empty";
  std::error_code ec;
  std::filesystem::create_directories(empty, ec);
  const std::string config = std::string() +
                             // standalone, in the foreground, on loopback only
                             "listen=YES\n"
                             "listen_ipv6=NO\n"
                             "background=NO\n"
                             "listen_address=127.0.0.1\n"
                             "listen_port=" + std::to_string(Port()) + "\n"
                             // the test account, locked into the served folder
                             "anonymous_enable=NO\n"
                             "local_enable=YES\n"
                             "write_enable=YES\n"
                             "local_umask=022\n"
                             "local_root=" + Root() + "\n"
                             "chroot_local_user=YES\n"
                             "allow_writeable_chroot=YES\n"
                             "pam_service_name=" + kVsftpdPamService + "\n"
                             "delay_failed_login=0\n"
                             // no sandboxing a container may refuse
                             "secure_chroot_dir=" + empty + "\n"
                             "seccomp_sandbox=NO\n"
                             "isolate=NO\n"
                             "isolate_network=NO\n"
                             // data connections
                             "pasv_enable=YES\n"
                             "pasv_min_port=" + std::to_string(PassiveFirst()) + "\n"
                             "pasv_max_port=" + std::to_string(PassiveLast()) + "\n"
                             "port_enable=YES\n"
                             "connect_from_port_20=NO\n"
                             // logs stay in the private folder
                             "syslog_enable=NO\n"
                             "xferlog_enable=NO\n"
                             "vsftpd_log_file=" + WorkDir() + "/vsftpd.log\n";
  const std::string path = WorkDir() + "/vsftpd.conf";
  if (!WriteWholeFile(path, config)) {
    error = "cannot write " + path;
    return false;
  }
  return !ec;
}

std::vector<std::string> VsftpdServer::Command() const { return {kVsftpd, WorkDir() + "/vsftpd.conf"}; }

// ---- pure-ftpd -------------------------------------------------------------

std::string PureFtpdServer::Unavailable() const {
  if (PureFtpdPrefix().empty()) return std::string("pure-ftpd is not installed") + kSetupHint;
  return RootAndAccount("pure-ftpd");
}

bool PureFtpdServer::Configure(std::string& error) {
  // A virtual user whose home is the served folder, with the account's ids
  // and a SHA-512 hash (pure-pw's own default, argon2id, costs seconds per
  // login).
  uid_t uid;
  gid_t gid;
  if (!TestUserIds(uid, gid)) {
    error = "no test account";
    return false;
  }
  const std::string passwd = WorkDir() + "/pureftpd.passwd";
  const std::string line = std::string(kTestFtpUser) + ":" + kTestFtpPasswordHash + ":" + std::to_string(uid) +
                           ":" + std::to_string(gid) + "::" + Root() + "/./::::::::::::\n";
  if (!WriteWholeFile(passwd, line)) {
    error = "cannot write " + passwd;
    return false;
  }
  const std::string mkdb = "'" + PureFtpdPrefix() + "/bin/pure-pw' mkdb '" + WorkDir() + "/pureftpd.pdb' -f '" + passwd +
                           "' </dev/null >'" + WorkDir() + "/setup.log' 2>&1";
  if (std::system(mkdb.c_str()) == 0) return true;
  error = "pure-pw mkdb failed: " + ReadWholeFile(WorkDir() + "/setup.log");
  return false;
}

std::vector<std::string> PureFtpdServer::Command() const {
  return {PureFtpdPrefix() + "/sbin/pure-ftpd",
          "--bind", std::string(Host()) + "," + std::to_string(Port()),
          "--ipv4only",
          "--login", "puredb:" + WorkDir() + "/pureftpd.pdb",
          "--noanonymous",
          "--chrooteveryone",
          "--dontresolve",  // no reverse look-ups of clients
          "--minuid", "1",  // the test account is a system account
          "--passiveportrange", std::to_string(PassiveFirst()) + ":" + std::to_string(PassiveLast()),
          "--syslogfacility", "none"};
}

}  // namespace pellan::test
