// The launcher of the real FTP servers: private folders, a free port, each
// server's configuration, starting the process, knowing when it listens, and
// stopping its whole process tree.
#include "support/ftp_servers.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

namespace pellan::test {

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kStartTimeout = 15s;
constexpr int kStartAttempts = 4;
constexpr auto kTermTimeout = 3s;
constexpr auto kKillTimeout = 3s;

}  // namespace

// The kernel's choice, so it rarely collides; a server that still loses
// the race fails to bind and is started again.
uint16_t FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  uint16_t port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  if (fd >= 0) close(fd);
  return port;
}

namespace {

// Parent pid and state letter from /proc/<pid>/stat; false when it is gone.
bool ReadStat(pid_t pid, pid_t& parent, char& state) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(in, text)) return false;
  size_t close = text.rfind(')');  // the command name may hold spaces and parentheses
  if (close == std::string::npos) return false;
  std::istringstream rest(text.substr(close + 1));
  rest >> state >> parent;
  return static_cast<bool>(rest);
}

// Every process whose parent is in `parents`.
std::set<pid_t> ChildrenOf(const std::set<pid_t>& parents) {
  std::set<pid_t> out;
  DIR* dir = opendir("/proc");
  if (!dir) return out;
  while (dirent* e = readdir(dir)) {
    char* end = nullptr;
    long pid = strtol(e->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    pid_t parent;
    char state;
    if (ReadStat(static_cast<pid_t>(pid), parent, state) && parents.count(parent)) out.insert(static_cast<pid_t>(pid));
  }
  closedir(dir);
  return out;
}

std::set<pid_t> Tree(pid_t root) {
  std::set<pid_t> all{root};
  std::set<pid_t> frontier{root};
  for (int depth = 0; depth < 16 && !frontier.empty(); ++depth) {
    std::set<pid_t> next;
    for (pid_t p : ChildrenOf(frontier)) {
      if (all.insert(p).second) next.insert(p);
    }
    frontier = std::move(next);
  }
  return all;
}

// Reaps those of `pids` that are this process's children (the server, and
// its orphans: this process is their subreaper); true when every one is gone
// or is a zombie that is not this process's to reap. A zombie whose parent
// in the tree is still to be reaped comes to this process next.
bool ReapAndCheck(const std::set<pid_t>& pids) {
  bool settled = true;
  for (pid_t p : pids) {
    waitpid(p, nullptr, WNOHANG);
    pid_t parent;
    char state;
    if (!ReadStat(p, parent, state)) continue;
    if ((state != 'Z' && state != 'X') || parent == getpid() || pids.count(parent)) settled = false;
  }
  return settled;
}

bool WaitGone(const std::set<pid_t>& pids, SteadyClock::duration timeout) {
  const auto deadline = SteadyClock::now() + timeout;
  while (!ReapAndCheck(pids)) {
    if (SteadyClock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// The inodes of sockets listening on 127.0.0.1:port (or any address).
std::set<std::string> ListeningInodes(uint16_t port) {
  std::set<std::string> inodes;
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);  // header
  char loopback[32], any[32];
  snprintf(loopback, sizeof loopback, "0100007F:%04X", port);
  snprintf(any, sizeof any, "00000000:%04X", port);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    f >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    if (state == "0A" && (local == loopback || local == any)) inodes.insert(inode);
  }
  return inodes;
}

// The test account's ids; false when it does not exist.
bool TestUserIds(uid_t& uid, gid_t& gid) {
  const passwd* pw = getpwnam(kTestFtpUser);
  if (pw == nullptr) return false;
  uid = pw->pw_uid;
  gid = pw->pw_gid;
  return true;
}

bool OwnsSocket(pid_t pid, const std::set<std::string>& inodes) {
  if (inodes.empty()) return false;
  const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(fdDir, ec)) {
    std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
    if (ec || target.rfind("socket:[", 0) != 0) continue;
    if (inodes.count(target.substr(8, target.size() - 9))) return true;
  }
  return false;
}

}  // namespace

const char* FtpServerKindName(FtpServerKind kind) {
  switch (kind) {
    case FtpServerKind::kPyftpdlib:
      return "pyftpdlib";
    case FtpServerKind::kVsftpd:
      return "vsftpd";
    case FtpServerKind::kPureFtpd:
      return "pure-ftpd";
  }
  return "?";
}

std::vector<FtpServerKind> AllFtpServerKinds() {
  return {FtpServerKind::kPyftpdlib, FtpServerKind::kVsftpd, FtpServerKind::kPureFtpd};
}

std::unique_ptr<RealFtpServer> MakeFtpServer(FtpServerKind kind) { return std::make_unique<RealFtpServer>(kind); }

RealFtpServer::RealFtpServer(FtpServerKind kind) : m_kind(kind), m_root(m_work.Path() + "/root") {}

RealFtpServer::~RealFtpServer() { Stop(); }

// Files the server's sessions write or serve belong to the test account
// when there is one and this process may give them away.
bool RealFtpServer::Own(const std::string& path) const {
  uid_t uid;
  gid_t gid;
  if (geteuid() != 0 || !TestUserIds(uid, gid)) return true;
  return chown(path.c_str(), uid, gid) == 0;
}

bool RealFtpServer::Prepare() {
  if (m_prepared) return true;
  // mkdtemp makes 0700 folders: the account the sessions run as must be able
  // to pass through every parent of the served folder.
  std::error_code ec;
  for (std::filesystem::path p = m_work.Path(); p != p.root_path() && !p.empty(); p = p.parent_path()) {
    struct stat st{};
    if (stat(p.c_str(), &st) == 0 && !(st.st_mode & S_IXOTH) && geteuid() == 0) {
      chmod(p.c_str(), (st.st_mode & 07777) | S_IXOTH);
    }
  }
  chmod(m_work.Path().c_str(), 0711);
  if (!std::filesystem::create_directory(m_root, ec) || chmod(m_root.c_str(), 0755) != 0 || !Own(m_root)) {
    m_error = "cannot make the served folder " + m_root;
    return false;
  }
  // Once per process: orphaned session processes become this process's
  // children, so they can be reaped when the server is stopped.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  m_prepared = true;
  return true;
}

std::string RealFtpServer::LocalPath(const std::string& remotePath) const {
  std::string rel = remotePath;
  while (!rel.empty() && rel.front() == '/') rel.erase(0, 1);
  return rel.empty() ? m_root : m_root + "/" + rel;
}

bool RealFtpServer::MakeFolder(const std::string& remotePath) const {
  std::string rel = remotePath;
  while (!rel.empty() && rel.front() == '/') rel.erase(0, 1);
  std::string path = m_root;
  std::istringstream parts(rel);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part.empty()) continue;
    path += "/" + part;
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (!Own(path)) return false;
  }
  return true;
}

bool RealFtpServer::PutFile(const std::string& remotePath, const std::string& content) const {
  const std::string path = LocalPath(remotePath);
  const size_t slash = remotePath.rfind('/');
  if (slash != std::string::npos && !MakeFolder(remotePath.substr(0, slash))) return false;
  return WriteWholeFile(path, content) && Own(path);
}

std::string RealFtpServer::Log() const { return ReadWholeFile(WorkDir() + "/server.log"); }

bool RealFtpServer::Start() {
  if (Running()) return true;
  const std::string whyNot = Unavailable();
  if (!whyNot.empty()) {
    m_error = whyNot;
    return false;
  }
  if (!Prepare()) return false;
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    m_port = FreeLoopbackPort();
    // Passive ports below the kernel's ephemeral range (32768 and up), so
    // they do not collide with client ports; servers try another port of
    // their range when one is taken.
    m_passiveFirst = static_cast<uint16_t>(20000 + random() % 240 * 50);
    m_passiveLast = static_cast<uint16_t>(m_passiveFirst + 49);
    if (m_port == 0) {
      m_error = "no free port";
      return false;
    }
    if (!Configure()) return false;
    if (Spawn() && WaitListening()) return true;
    Stop();
  }
  return false;
}

bool RealFtpServer::Spawn() {
  std::vector<std::string> command = Command();
  std::vector<char*> argv;
  for (std::string& a : command) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envText = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C.UTF-8", "HOME=" + WorkDir(),
                                      "PYTHONDONTWRITEBYTECODE=1"};
  std::vector<char*> env;
  for (std::string& e : envText) env.push_back(e.data());
  env.push_back(nullptr);
  uid_t uid = 0;
  gid_t gid = 0;
  // pyftpdlib does not change user on its own.
  const bool dropUser = m_kind == FtpServerKind::kPyftpdlib && geteuid() == 0 && TestUserIds(uid, gid);
  const std::string logPath = WorkDir() + "/server.log";
  const int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (logFd < 0 || nullFd < 0) {
    m_error = "cannot open " + logPath;
    if (logFd >= 0) close(logFd);
    if (nullFd >= 0) close(nullFd);
    return false;
  }
  const pid_t parent = getpid();
  const char* workDir = WorkDir().c_str();

  const pid_t pid = fork();
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
    if (dropUser && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(126);
    execve(argv[0], argv.data(), env.data());
    _exit(127);
  }
  close(logFd);
  close(nullFd);
  if (pid < 0) {
    m_error = std::string("fork: ") + strerror(errno);
    return false;
  }
  m_pid = pid;
  return true;
}

bool RealFtpServer::WaitListening() {
  const auto deadline = SteadyClock::now() + kStartTimeout;
  while (SteadyClock::now() < deadline) {
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      m_error = std::string(Name()) + " exited at start (status " + std::to_string(status) + "): " + Log();
      return false;
    }
    // Listening, and by this process: a port taken by someone else in the
    // meantime must not pass for this server.
    if (OwnsSocket(m_pid, ListeningInodes(m_port))) return true;
    std::this_thread::sleep_for(5ms);
  }
  m_error = std::string(Name()) + " did not listen on port " + std::to_string(m_port) + " in time: " + Log();
  return false;
}

void RealFtpServer::Stop() {
  if (m_pid <= 0) return;
  // Freeze the tree first, so that nothing forks while it is collected.
  std::set<pid_t> tree{m_pid};
  for (int round = 0; round < 100; ++round) {
    for (pid_t p : tree) kill(p, SIGSTOP);
    std::set<pid_t> now = Tree(m_pid);
    for (pid_t p : tree) {
      for (pid_t c : Tree(p)) now.insert(c);
    }
    bool allStopped = true;
    for (pid_t p : now) {
      pid_t parent;
      char state = 'X';
      if (ReadStat(p, parent, state) && state != 'T' && state != 't' && state != 'Z' && state != 'X') {
        allStopped = false;
      }
    }
    const bool grew = now.size() > tree.size();
    tree.insert(now.begin(), now.end());
    if (!grew && allStopped) break;
    std::this_thread::sleep_for(1ms);
  }
  for (pid_t p : tree) kill(p, SIGTERM);
  for (pid_t p : tree) kill(p, SIGCONT);
  if (!WaitGone(tree, kTermTimeout)) {
    for (pid_t p : tree) kill(p, SIGKILL);
    WaitGone(tree, kKillTimeout);
  }
  m_pid = -1;
}

// ---- the three servers: where each is installed, its configuration -------

namespace {

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
  for (const char* prefix : {"/opt/pellan-test/pure-ftpd/usr", "/usr"}) {
    if (Executable(std::string(prefix) + "/sbin/pure-ftpd") && Executable(std::string(prefix) + "/bin/pure-pw")) {
      return prefix;
    }
  }
  return "";
}

}  // namespace

std::string RealFtpServer::Unavailable() const {
  if (m_kind == FtpServerKind::kPyftpdlib) {
    if (!std::filesystem::exists("/usr/lib/python3/dist-packages/pyftpdlib/__init__.py") || !Executable(kDebianPython)) {
      return std::string("python3-pyftpdlib is not installed") + kSetupHint;
    }
    return "";
  }
  if (m_kind == FtpServerKind::kVsftpd && !Executable(kVsftpd)) return std::string("vsftpd is not installed") + kSetupHint;
  if (m_kind == FtpServerKind::kVsftpd && !std::filesystem::exists(std::string("/etc/pam.d/") + kVsftpdPamService)) {
    return std::string("the PAM service ") + kVsftpdPamService + " is missing" + kSetupHint;
  }
  if (m_kind == FtpServerKind::kPureFtpd && PureFtpdPrefix().empty()) {
    return std::string("pure-ftpd is not installed") + kSetupHint;
  }
  if (geteuid() != 0) return std::string(Name()) + " needs root to start sessions as the test account";
  uid_t uid;
  gid_t gid;
  if (!TestUserIds(uid, gid)) return std::string("the test account ") + kTestFtpUser + " is missing" + kSetupHint;
  return "";
}

bool RealFtpServer::Configure() {
  uid_t uid;
  gid_t gid;
  if (m_kind == FtpServerKind::kPureFtpd) {
    // A virtual user whose home is the served folder, with the account's ids
    // and a SHA-512 hash (pure-pw's own default, argon2id, costs seconds per
    // login).
    const std::string passwd = WorkDir() + "/pureftpd.passwd";
    if (!TestUserIds(uid, gid) ||
        !WriteWholeFile(passwd, std::string(kTestFtpUser) + ":" + kTestFtpPasswordHash + ":" + std::to_string(uid) +
                                    ":" + std::to_string(gid) + "::" + Root() + "/./::::::::::::\n")) {
      m_error = "cannot write " + passwd;
      return false;
    }
    const std::string mkdb = "'" + PureFtpdPrefix() + "/bin/pure-pw' mkdb '" + WorkDir() + "/pureftpd.pdb' -f '" +
                             passwd + "' </dev/null >'" + WorkDir() + "/setup.log' 2>&1";
    if (std::system(mkdb.c_str()) != 0) m_error = "pure-pw mkdb failed: " + ReadWholeFile(WorkDir() + "/setup.log");
    return m_error.empty();
  }
  if (m_kind != FtpServerKind::kVsftpd) return true;
  std::error_code ec;
  std::filesystem::create_directories(WorkDir() + "/empty", ec);
  const std::string config = std::string() +
                             // standalone, in the foreground, on loopback only
                             "listen=YES\nlisten_ipv6=NO\nbackground=NO\nlisten_address=127.0.0.1\n"
                             "listen_port=" + std::to_string(Port()) + "\n"
                             // the test account, locked into the served folder
                             "anonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\n"
                             "local_root=" + Root() + "\nchroot_local_user=YES\nallow_writeable_chroot=YES\n"
                             "pam_service_name=" + kVsftpdPamService + "\ndelay_failed_login=0\n"
                             // no sandboxing a container may refuse
                             "secure_chroot_dir=" + WorkDir() + "/empty\nseccomp_sandbox=NO\nisolate=NO\n"
                             "isolate_network=NO\n"
                             // data connections
                             "pasv_enable=YES\npasv_min_port=" + std::to_string(PassiveFirst()) + "\n"
                             "pasv_max_port=" + std::to_string(PassiveLast()) + "\nport_enable=YES\n"
                             "connect_from_port_20=NO\n"
                             // logs stay in the private folder
                             "syslog_enable=NO\nxferlog_enable=NO\nvsftpd_log_file=" + WorkDir() + "/vsftpd.log\n";
  if (!WriteWholeFile(WorkDir() + "/vsftpd.conf", config)) m_error = "cannot write the vsftpd configuration";
  return m_error.empty();
}

std::vector<std::string> RealFtpServer::Command() const {
  const std::string passive = std::to_string(PassiveFirst()) + "-" + std::to_string(PassiveLast());
  switch (m_kind) {
    case FtpServerKind::kPyftpdlib:
      // pyftpdlib's own stand-alone server: one user with full rights.
      return {kDebianPython, "-m", "pyftpdlib", "-i", Host(), "-p", std::to_string(Port()), "-w", "-d", Root(),
              "-r", passive, "-u", User(), "-P", Password()};
    case FtpServerKind::kVsftpd:
      return {kVsftpd, WorkDir() + "/vsftpd.conf"};
    case FtpServerKind::kPureFtpd:
      return {PureFtpdPrefix() + "/sbin/pure-ftpd", "--bind", std::string(Host()) + "," + std::to_string(Port()),
              "--ipv4only", "--login", "puredb:" + WorkDir() + "/pureftpd.pdb", "--noanonymous", "--chrooteveryone",
              "--dontresolve",  // no reverse look-ups of clients
              "--minuid", "1",  // the test account is a system account
              "--passiveportrange", std::to_string(PassiveFirst()) + ":" + std::to_string(PassiveLast()),
              "--syslogfacility", "none"};
  }
  return {};
}

}  // namespace pellan::test
