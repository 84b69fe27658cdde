// The launcher of the real FTP servers: private folders, a free port, each
// server's configuration, starting the process, knowing when it listens, and
// stopping its whole process tree.
#include "support/ftp_servers.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "support/raw_ftp_client.h"

namespace pellan::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr char kSetupHint[] = " (scripts/setup-test-servers.sh installs it, as root)";
// Debian's interpreter, not whichever python3 comes first on PATH: only it
// sees the python3-pyftpdlib package.
constexpr char kDebianPython[] = "/usr/bin/python3";
constexpr char kVsftpd[] = "/usr/sbin/vsftpd";
constexpr char kVsftpdPamService[] = "pellan-ftp-test";  // /etc/pam.d/pellan-ftp-test
// The same SHA-512 crypt hash of kTestFtpPassword as the set-up script gives
// the system account: a fast hash keeps every login at a few milliseconds.
constexpr char kTestFtpPasswordHash[] =
    "$6$pellantestsalt$IFpuEZ3AoLJzn0V2oSxHyMwz6KuRkxOnfrWqYp8dBl8zSLY1QiUSD4JqOeOwlxtJRTqnsAbx9PiAKAgz2MO010";

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// pure-ftpd is unpacked privately (its package conflicts with vsftpd's);
// a system-wide one serves as well.
std::string PureFtpdPrefix() {
  for (std::string prefix : {"/opt/pellan-test/pure-ftpd/usr", "/usr"}) {
    if (Executable(prefix + "/sbin/pure-ftpd") && Executable(prefix + "/bin/pure-pw")) return prefix;
  }
  return "";
}

// The test account; nullptr when it does not exist.
const passwd* TestUser() { return getpwnam(kTestFtpUser); }

// Files the server's sessions write or serve belong to the test account
// when there is one and this process may give them away.
bool Own(const std::string& path) {
  const passwd* pw = TestUser();
  return geteuid() != 0 || pw == nullptr || chown(path.c_str(), pw->pw_uid, pw->pw_gid) == 0;
}

// Whether `pid` holds a socket listening on the loopback address or on
// any address, at `port` (IPv4, or IPv6 with `ipv6`).
bool ListensOn(pid_t pid, uint16_t port, bool ipv6) {
  std::set<std::string> inodes;
  std::ifstream in(ipv6 ? "/proc/net/tcp6" : "/proc/net/tcp");
  char loopback[48], any[48];
  snprintf(loopback, sizeof loopback, "%s:%04X", ipv6 ? "00000000000000000000000001000000" : "0100007F", port);
  snprintf(any, sizeof any, "%s:%04X", ipv6 ? "00000000000000000000000000000000" : "00000000", port);
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    std::string v[10];
    for (std::string& field : v) f >> field;  // slot local remote state ... inode
    if (v[3] == "0A" && (v[1] == loopback || v[1] == any)) inodes.insert("socket:[" + v[9] + "]");
  }
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    if (inodes.count(fs::read_symlink(entry.path(), ec).string())) return true;
  }
  return false;
}

std::string Relative(std::string path) { return path.erase(0, path.find_first_not_of('/')); }

}  // namespace

// The kernel's choice, so it rarely collides; a server that still loses
// the race fails to bind and is started again.
uint16_t FreeLoopbackPort() {
  uint16_t port = 0;
  const int fd = RawFtpClient::Listen(&port);
  if (fd >= 0) close(fd);
  return fd >= 0 ? port : 0;
}

const char* FtpServerKindName(FtpServerKind kind) {
  return kind == FtpServerKind::kPyftpdlib ? "pyftpdlib" : kind == FtpServerKind::kVsftpd ? "vsftpd" : "pure-ftpd";
}

std::vector<FtpServerKind> AllFtpServerKinds() {
  return {FtpServerKind::kPyftpdlib, FtpServerKind::kVsftpd, FtpServerKind::kPureFtpd};
}

RealFtpServer& SharedFtpServer(FtpServerKind kind) {
  static std::map<FtpServerKind, std::unique_ptr<RealFtpServer>> servers;
  auto& server = servers[kind];
  if (!server) server = std::make_unique<RealFtpServer>(kind);
  return *server;
}

RealFtpServer::RealFtpServer(FtpServerKind kind) : m_kind(kind), m_root(m_work.Path() + "/root") {}

RealFtpServer::~RealFtpServer() { Stop(); }

std::string RealFtpServer::LocalPath(const std::string& remotePath) const {
  const std::string rel = Relative(remotePath);
  return rel.empty() ? m_root : m_root + "/" + rel;
}

bool RealFtpServer::MakeFolder(const std::string& remotePath) const {
  std::string path = m_root;
  std::istringstream parts(Relative(remotePath));
  for (std::string part; std::getline(parts, part, '/');) {
    if (part.empty()) continue;
    path += "/" + part;
    if ((mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) || !Own(path)) return false;
  }
  return true;
}

bool RealFtpServer::PutFile(const std::string& remotePath, const std::string& content) const {
  const size_t slash = remotePath.rfind('/');
  const std::string path = LocalPath(remotePath);
  return (slash == std::string::npos || MakeFolder(remotePath.substr(0, slash))) && WriteWholeFile(path, content) &&
         Own(path);
}

std::string RealFtpServer::Log() const { return ReadWholeFile(m_work.File("server.log")); }

// pyftpdlib runs as anyone; the others need root and the test account.
std::string RealFtpServer::Unavailable() const {
  const bool py = m_kind == FtpServerKind::kPyftpdlib;
  const std::string pam = std::string("/etc/pam.d/") + kVsftpdPamService;
  const bool installed = py ? fs::exists("/usr/lib/python3/dist-packages/pyftpdlib/__init__.py")
                         : m_kind == FtpServerKind::kVsftpd ? Executable(kVsftpd) && fs::exists(pam)
                                                            : !PureFtpdPrefix().empty();
  if (!installed) return std::string(Name()) + " is not installed" + kSetupHint;
  if (!py && (geteuid() != 0 || TestUser() == nullptr)) {
    return std::string(Name()) + " needs root and the test account " + kTestFtpUser + kSetupHint;
  }
  return "";
}

bool RealFtpServer::Start() {
  if (m_pid > 0) return true;
  m_error = Unavailable();
  if (!m_error.empty()) return false;
  // mkdtemp makes 0700 folders: the account the sessions run as must be able
  // to pass through every parent of the served folder.
  for (fs::path p = m_work.Path(); p != p.root_path() && !p.empty(); p = p.parent_path()) {
    struct stat st{};
    if (stat(p.c_str(), &st) == 0 && !(st.st_mode & S_IXOTH) && geteuid() == 0) {
      chmod(p.c_str(), (st.st_mode & 07777) | S_IXOTH);
    }
  }
  std::error_code ec;
  fs::create_directory(m_root, ec);
  if (chmod(m_root.c_str(), 0755) != 0 || !Own(m_root)) {
    m_error = "cannot make the served folder " + m_root;
    return false;
  }
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 4; ++attempt) {
    m_port = FreeLoopbackPort();
    // Passive ports below the kernel's ephemeral range (32768 and up), so
    // they do not collide with client ports; servers try another port of
    // their range when one is taken.
    m_passiveFirst = static_cast<uint16_t>(20000 + random() % 240 * 50);
    m_passiveLast = static_cast<uint16_t>(m_passiveFirst + 49);
    std::vector<std::string> command = m_port == 0 ? std::vector<std::string>{} : Configure();
    if (!command.empty()) command.insert(command.end(), m_options.begin(), m_options.end());
    if (command.empty()) {
      if (m_error.empty()) m_error = "no free port";
      return false;
    }
    if (Spawn(command) && WaitListening()) return true;
    Stop();
  }
  return false;
}

bool RealFtpServer::Spawn(std::vector<std::string> command) {
  std::vector<char*> argv, env;
  for (std::string& a : command) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envText = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C.UTF-8", "HOME=" + m_work.Path(),
                                      "PYTHONDONTWRITEBYTECODE=1"};
  for (std::string& e : envText) env.push_back(e.data());
  env.push_back(nullptr);
  // pyftpdlib does not change user on its own.
  const passwd* pw = m_kind == FtpServerKind::kPyftpdlib && geteuid() == 0 ? TestUser() : nullptr;
  const uid_t uid = pw ? pw->pw_uid : 0;
  const gid_t gid = pw ? pw->pw_gid : 0;
  const int logFd = open(m_work.File("server.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = getpid();
  const char* workDir = m_work.Path().c_str();
  const pid_t pid = logFd < 0 || nullFd < 0 ? -1 : fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on. The server dies with the
    // test process, whatever ends it.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);
    dup2(nullFd, 0);
    dup2(logFd, 1);
    dup2(logFd, 2);
    close_range(3, ~0U, 0);
    if (chdir(workDir) != 0) _exit(126);
    if (pw && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(126);
    execve(argv[0], argv.data(), env.data());
    _exit(127);
  }
  if (logFd >= 0) close(logFd);
  if (nullFd >= 0) close(nullFd);
  if (pid < 0) m_error = std::string("cannot start the server: ") + strerror(errno);
  m_pid = pid;
  return pid > 0;
}

bool RealFtpServer::WaitListening() {
  for (const auto deadline = SteadyClock::now() + 15s; SteadyClock::now() < deadline; std::this_thread::sleep_for(5ms)) {
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      m_error = std::string(Name()) + " exited at start (status " + std::to_string(status) + "): " + Log();
      return false;
    }
    // Listening, and by this process: a port taken by someone else in the
    // meantime must not pass for this server.
    if (ListensOn(m_pid, m_port, m_ipv6)) return true;
  }
  m_error = std::string(Name()) + " did not listen on port " + std::to_string(m_port) + " in time: " + Log();
  return false;
}

void RealFtpServer::Stop() {
  if (m_pid <= 0) return;
  // The server's process group holds pure-ftpd's sessions; vsftpd's, in
  // sessions of their own, die with their parent.
  kill(-m_pid, SIGKILL);
  waitpid(m_pid, nullptr, 0);
  m_pid = -1;
}

std::vector<std::string> RealFtpServer::Configure() {
  const std::string work = m_work.Path(), port = std::to_string(m_port);
  const std::string first = std::to_string(m_passiveFirst), last = std::to_string(m_passiveLast);
  const std::string cert = CertFile(), key = work + "/key.pem";
  if (m_tls && !fs::exists(cert)) {
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj /CN=127.0.0.1 "
                             "-addext subjectAltName=" + m_tlsNames + " -keyout '" + key + "' -out '" + cert +
                             "' >'" + work + "/openssl.log' 2>&1 && chmod 644 '" + key + "'";
    if (std::system(make.c_str()) != 0) {
      m_error = "openssl req failed: " + ReadWholeFile(work + "/openssl.log");
      return {};
    }
  }
  if (m_kind == FtpServerKind::kPyftpdlib && m_tls) {
    // Its TLS handler needs a script of its own: one user with full rights.
    const std::string script =
        "import sys\nfrom pyftpdlib.authorizers import DummyAuthorizer\n"
        "from pyftpdlib.handlers import TLS_FTPHandler\nfrom pyftpdlib.servers import FTPServer\n"
        "a = DummyAuthorizer()\na.add_user(sys.argv[3], sys.argv[4], sys.argv[5], perm='elradfmwMT')\n"
        "h = TLS_FTPHandler\nh.certfile, h.keyfile, h.authorizer = sys.argv[6], sys.argv[7], a\n"
        "h.tls_control_required = h.tls_data_required = True\n"
        "h.passive_ports = range(int(sys.argv[8]), int(sys.argv[9]) + 1)\n"
        "FTPServer((sys.argv[1], int(sys.argv[2])), h).serve_forever()\n";
    if (!WriteWholeFile(work + "/tls_server.py", script)) m_error = "cannot write the TLS server script";
    return {kDebianPython, work + "/tls_server.py", Host(), port, User(), Password(), m_root, cert, key, first, last};
  }
  if (m_kind == FtpServerKind::kPyftpdlib) {
    // pyftpdlib's own stand-alone server: one user with full rights.
    return {kDebianPython, "-m", "pyftpdlib", "-i", Host(), "-p", port, "-w", "-d", m_root, "-r", first + "-" + last,
            "-u", User(), "-P", Password()};
  }
  if (m_kind == FtpServerKind::kPureFtpd) {
    // A virtual user whose home is the served folder, with the account's ids
    // and a SHA-512 hash (pure-pw's own default, argon2id, costs seconds per
    // login).
    const passwd* pw = TestUser();
    const std::string mkdb = "'" + PureFtpdPrefix() + "/bin/pure-pw' mkdb '" + work + "/pureftpd.pdb' -f '" + work +
                             "/pureftpd.passwd' </dev/null >'" + work + "/setup.log' 2>&1";
    if (pw == nullptr || !WriteWholeFile(work + "/pureftpd.passwd",
                                         std::string(kTestFtpUser) + ":" + kTestFtpPasswordHash + ":" +
                                             std::to_string(pw->pw_uid) + ":" + std::to_string(pw->pw_gid) +
                                             "::" + m_root + "/./::::::::::::\n")) {
      m_error = "cannot write " + work + "/pureftpd.passwd";
    } else if (std::system(mkdb.c_str()) != 0) {
      m_error = "pure-pw mkdb failed: " + ReadWholeFile(work + "/setup.log");
    }
    if (!m_error.empty()) return {};
    return {PureFtpdPrefix() + "/sbin/pure-ftpd", "--bind", std::string(Host()) + "," + port,
            m_ipv6 ? "--ipv6only" : "--ipv4only", "--login",
            "puredb:" + work + "/pureftpd.pdb", "--noanonymous", "--chrooteveryone",
            "--dontresolve",  // no reverse look-ups of clients
            "--minuid", "1",  // the test account is a system account
            "--passiveportrange", first + ":" + last, "--syslogfacility", "none", "--tls", m_tls ? "3" : "0",
            "--certfile", cert + "," + key};
  }
  std::error_code ec;
  fs::create_directories(work + "/empty", ec);
  // Standalone in the foreground on loopback; the test account locked into
  // the served folder; no sandboxing a container may refuse; logs kept in
  // the private folder.
  std::string config =
      std::string(m_ipv6 ? "listen=NO listen_ipv6=YES listen_address6=::1 " : "listen=YES listen_ipv6=NO ") +
      "background=NO listen_address=127.0.0.1 anonymous_enable=NO local_enable=YES "
      "write_enable=YES local_umask=022 chroot_local_user=YES allow_writeable_chroot=YES "
      "delay_failed_login=0 "
      "seccomp_sandbox=NO isolate=NO isolate_network=NO pasv_enable=YES port_enable=YES "
      "connect_from_port_20=NO "
      "syslog_enable=NO xferlog_enable=NO listen_port=" +
      port + " local_root=" + m_root + " pam_service_name=" + kVsftpdPamService +
      " secure_chroot_dir=" + work + "/empty pasv_min_port=" + first + " pasv_max_port=" + last +
      " vsftpd_log_file=" + work + "/vsftpd.log" +
      (m_tls ? " ssl_enable=YES rsa_cert_file=" + cert + " rsa_private_key_file=" + key +
                   " allow_anon_ssl=NO force_local_logins_ssl=YES force_local_data_ssl=YES require_ssl_reuse=YES"
                   " ssl_sslv2=NO ssl_sslv3=NO ssl_tlsv1=YES"
             : std::string()) +
      "\n";
  std::replace(config.begin(), config.end(), ' ', '\n');
  if (!WriteWholeFile(work + "/vsftpd.conf", config)) {
    m_error = "cannot write the vsftpd configuration";
    return {};
  }
  return {kVsftpd, work + "/vsftpd.conf"};
}

}  // namespace pellan::test
