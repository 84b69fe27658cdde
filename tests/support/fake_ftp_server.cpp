// The script runner of the fake FTP server: sockets, the step queue and the
// steps themselves. The default answers are in fake_ftp_server_defaults.cpp.
#include "support/fake_ftp_server.h"

#include "support/raw_ftp_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace pellan::test {

namespace {

constexpr size_t kMaxLine = 64 * 1024;  // a client that never ends a line fails, not grows

// A listening socket on 127.0.0.1 at a port of the system's choosing.
int ListenLoopback(uint16_t& port) {
  port = 0;
  const int fd = RawFtpClient::Listen(&port);
  if (fd < 0) throw std::runtime_error(std::string("fake server: cannot listen: ") + strerror(errno));
  return fd;
}

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    char hex[8];
    snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7f ? "%c" : "\\x%02x", c);
    out += hex;
  }
  return out + "\"";
}

}  // namespace

// One connected socket with its watch and buffers.
struct FakeFtpServer::Channel {
  int fd = -1;
  LoopWatch watch;
  std::string in, out;
  bool peerClosed = false;  // the client closed it (or it failed)
  bool connecting = false;  // an active-mode connect still in progress

  Channel(int socketFd, unsigned interest, WatchCallback callback)
      : fd(socketFd), watch(socketFd, interest, std::move(callback)) {
    // Every scripted piece leaves at once: with Nagle's algorithm a small
    // reply waits for the peer's delayed ACK (tens of real milliseconds),
    // which a loop on virtual time does not wait for.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~Channel() {
    watch.Reset();
    if (fd >= 0) close(fd);
  }

  void Flush() {
    while (!out.empty() && !peerClosed) {
      ssize_t n = send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        out.erase(0, static_cast<size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        break;
      } else {
        peerClosed = true;
      }
    }
    if (peerClosed) out.clear();
    Watch();
  }

  void ReadAll() {
    char buf[16384];
    while (!peerClosed) {
      ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        in.append(buf, static_cast<size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        break;
      } else {
        peerClosed = true;  // end of stream or reset
      }
    }
    Watch();
  }

  // Read while the peer may still send, write only while bytes wait (an
  // always-on write watch spins).
  void Watch() {
    unsigned interest = 0;
    if (connecting || !out.empty()) interest |= kIoWrite;
    if (!connecting && !peerClosed) interest |= kIoRead;
    watch.SetInterest(interest);
  }

  void Close(Close how) {
    if (how == Close::kReset) {
      linger l{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    watch.Reset();
    close(fd);
    fd = -1;
  }
};

struct FakeFtpServer::Step {
  std::string description;
  StepFn run;
  std::string bytes;  // to send, or received so far
  Pace pace;
  size_t offset = 0;
  bool waiting = false;
  bool stall = false;
};

FakeFtpServer::FakeFtpServer() {
  m_listenFd = ListenLoopback(m_port);
  m_listenWatch = LoopWatch(m_listenFd, kIoRead, [this](unsigned) { OnListen(); });
  m_timer = LoopTimer(Milliseconds(1), [this] {
    m_timer.SetEnabled(false);
    m_timerFired = true;
    Advance();
  });
}

FakeFtpServer::~FakeFtpServer() {
  m_ctrl.reset();
  m_data.reset();
  for (int fd : m_waitingConns) close(fd);
  m_listenWatch.Reset();
  m_dataListenWatch.Reset();
  close(m_listenFd);
  if (m_dataListenFd >= 0) close(m_dataListenFd);
}

// ---- sockets ---------------------------------------------------------------

void FakeFtpServer::OnListen() {
  for (int i = 0; i < 16; ++i) {
    int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) break;
    ++m_connections;
    m_waitingConns.push_back(fd);
  }
  if (!m_ctrl) Promote();
  Advance();
}

// Drops a control connection the client has closed and makes the next
// waiting one current.
void FakeFtpServer::Promote() {
  if (m_ctrl && m_ctrl->peerClosed) CloseControl(Close::kGraceful);
  if (m_ctrl || m_waitingConns.empty()) return;
  int fd = m_waitingConns.front();
  m_waitingConns.pop_front();
  m_ctrl = std::make_unique<Channel>(fd, kIoRead, [this](unsigned ev) { OnControl(ev); });
  m_greeted = false;
}

void FakeFtpServer::OnControl(unsigned events) {
  if (events & kIoWrite) m_ctrl->Flush();
  if (events & (kIoRead | kIoError | kIoHangup)) {
    m_ctrl->ReadAll();
    TakeLines();
  }
  Advance();
}

void FakeFtpServer::TakeLines() {
  m_lineBuffer += m_ctrl->in;
  m_ctrl->in.clear();
  size_t eol;
  while ((eol = m_lineBuffer.find('\n')) != std::string::npos) {
    std::string line = m_lineBuffer.substr(0, eol);
    m_lineBuffer.erase(0, eol + 1);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    } else {
      Fail("command line not ended by CRLF: " + Quoted(line));
    }
    m_transcript.push_back(line);
    m_lines.push_back(line);
    unsigned h[4], p[2];
    if (line.rfind("PORT ", 0) == 0) m_portPort = -1;  // until it parses
    if (sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0], &p[1]) == 6) {
      m_portHost = std::to_string(h[0]) + "." + std::to_string(h[1]) + "." + std::to_string(h[2]) + "." +
                   std::to_string(h[3]);
      m_portPort = static_cast<int>(p[0] * 256 + p[1]);
      m_passive = false;
    }
  }
  if (m_lineBuffer.size() > kMaxLine) {
    Fail("command line longer than 64 KiB");
    m_lineBuffer.clear();
  }
}

void FakeFtpServer::OpenDataListener() {
  CloseData(Close::kGraceful);
  uint16_t port = 0;
  m_dataListenFd = ListenLoopback(port);
  m_dataListenPort = port;
  m_dataListenWatch = LoopWatch(m_dataListenFd, kIoRead, [this](unsigned) { OnDataListen(); });
  m_passive = true;
}

void FakeFtpServer::OnDataListen() {
  int fd = accept4(m_dataListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) {
    if (m_data) {
      close(fd);  // one data connection at a time, as a real server
    } else {
      ++m_dataConnections;
      m_data = std::make_unique<Channel>(fd, kIoRead, [this](unsigned ev) { OnData(ev); });
    }
    // Listener closed once used, like a real server's.
    m_dataListenWatch.Reset();
    close(m_dataListenFd);
    m_dataListenFd = -1;
  }
  Advance();
}

void FakeFtpServer::OnData(unsigned events) {
  if (m_data->connecting) {
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(m_data->fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
      Fail("data connection to " + m_portHost + ":" + std::to_string(m_portPort) + " failed: " + strerror(err));
      m_data.reset();
      Advance();
      return;
    }
    m_data->connecting = false;
    ++m_dataConnections;
    m_data->Watch();
  } else {
    if (events & kIoWrite) m_data->Flush();
    if (events & (kIoRead | kIoError | kIoHangup)) m_data->ReadAll();
  }
  Advance();
}

void FakeFtpServer::CloseData(Close how) {
  if (m_data) m_data->Close(how);
  m_data.reset();
  m_dataListenWatch.Reset();
  if (m_dataListenFd >= 0) close(m_dataListenFd);
  m_dataListenFd = -1;
}

void FakeFtpServer::CloseControl(Close how) {
  if (m_ctrl) m_ctrl->Close(how);
  m_ctrl.reset();
  m_lines.clear();
  m_lineBuffer.clear();
}

void FakeFtpServer::StartTimer(Milliseconds ms) {
  m_timerFired = ms.count() <= 0;
  if (m_timerFired) return;
  m_timer.SetInterval(ms);
  m_timer.SetEnabled(true);
}

bool FakeFtpServer::NeedControl() {
  if (m_ctrl && !m_ctrl->peerClosed) return true;
  Promote();
  return m_ctrl != nullptr;
}

bool FakeFtpServer::NeedData() { return m_data && !m_data->connecting; }

bool FakeFtpServer::ControlOpen() const { return m_ctrl && !m_ctrl->peerClosed; }

void FakeFtpServer::Fail(std::string what) { m_failures.push_back(std::move(what)); }

// ---- the script ------------------------------------------------------------

void FakeFtpServer::Advance() {
  // Steps run from socket and timer callbacks; a step that causes another
  // event inside this call just asks for one more round.
  if (m_inAdvance) {
    m_again = true;
    return;
  }
  m_inAdvance = true;
  do {
    m_again = false;
    while (!m_steps.empty()) {
      Step& step = m_steps.front();
      if (!step.run(step)) break;
      m_steps.pop_front();
      ++m_stepsDone;
    }
    if (m_steps.empty() && m_defaults && AnswerNextByDefault()) m_again = true;
  } while (m_again);
  m_inAdvance = false;
}

FakeFtpServer& FakeFtpServer::Add(std::string description, StepFn run) {
  Step step;
  step.description = std::move(description);
  step.run = std::move(run);
  m_steps.push_back(std::move(step));
  Advance();
  return *this;
}

bool FakeFtpServer::RunSend(Step& step, bool data) {
  if (data ? !NeedData() : !NeedControl()) return false;
  Channel& ch = data ? *m_data : *m_ctrl;
  if (!data) m_greeted = true;
  for (;;) {
    if (ch.peerClosed) return true;  // nobody reads it any more: the rest is dropped
    if (!ch.out.empty()) return false;  // the previous piece is still going out
    if (step.offset >= step.bytes.size()) return true;
    if (step.offset > 0 && step.pace.gap.count() > 0 && !Waited(step, step.pace.gap)) return false;
    size_t n = step.bytes.size() - step.offset;
    if (step.pace.chunk > 0 && step.pace.chunk < n) n = step.pace.chunk;
    ch.out.append(step.bytes, step.offset, n);
    step.offset += n;
    ch.Flush();
  }
}

FakeFtpServer& FakeFtpServer::AddSend(bool data, std::string description, std::string bytes, Pace pace) {
  Add(std::move(description), [this, data](Step& s) { return RunSend(s, data); });
  m_steps.back().bytes = std::move(bytes);
  m_steps.back().pace = pace;
  return *this;
}

FakeFtpServer& FakeFtpServer::Reply(std::string text, Pace pace) {
  return AddSend(false, "Reply " + Quoted(text), text + "\r\n", pace);
}

FakeFtpServer& FakeFtpServer::SendRaw(std::string bytes, Pace pace) {
  return AddSend(false, "SendRaw " + Quoted(bytes), bytes, pace);
}

FakeFtpServer& FakeFtpServer::ExpectThat(std::string description, LineMatcher matcher) {
  return Add(description, [this, description, matcher](Step&) {
    while (!m_lines.empty()) {
      std::string line = std::move(m_lines.front());
      m_lines.pop_front();
      if (matcher(line)) return true;
      Fail("expected " + description + ", got " + Quoted(line));
      if (ControlOpen()) {
        m_ctrl->out += "500 Unexpected command.\r\n";
        m_ctrl->Flush();
      }
    }
    if (!ControlOpen()) Promote();  // the client left: its next connection goes on
    return false;
  });
}

FakeFtpServer& FakeFtpServer::Expect(std::string line) {
  return ExpectThat(Quoted(line), [line](const std::string& got) { return got == line; });
}

FakeFtpServer& FakeFtpServer::Login(const std::string& user, const std::string& password) {
  return Reply("220 Fake FTP server ready.")
      .Expect("USER " + user, "331 Password required for " + user + ".")
      .Expect("PASS " + password, "230 User " + user + " logged in.");
}

// True once `ms` have passed since the step first asked.
bool FakeFtpServer::Waited(Step& step, Milliseconds ms) {
  if (!step.waiting) {
    step.waiting = true;
    StartTimer(ms);
  }
  if (!m_timerFired) return false;
  step.waiting = m_timerFired = false;
  return true;
}

FakeFtpServer& FakeFtpServer::Delay(Milliseconds ms) {
  return Add("Delay " + std::to_string(ms.count()) + " ms", [this, ms](Step& s) { return Waited(s, ms); });
}

FakeFtpServer& FakeFtpServer::Stall() {
  Add("Stall", [](Step&) { return false; });
  m_steps.back().stall = true;
  return *this;
}

FakeFtpServer& FakeFtpServer::Drop(Close how) {
  return Add(how == Close::kReset ? "Drop (reset)" : "Drop", [this, how](Step&) {
    if (!NeedControl()) return false;
    CloseData(how);
    CloseControl(how);
    return true;
  });
}

FakeFtpServer& FakeFtpServer::ExpectClose() {
  return Add("ExpectClose", [this](Step&) {
    if (m_ctrl && !m_ctrl->peerClosed) return false;
    CloseControl(Close::kGraceful);
    return true;
  });
}

FakeFtpServer& FakeFtpServer::Pasv(std::string advertisedHost, int advertisedPort) {
  return PasvReplying("227 Entering Passive Mode ({}).", std::move(advertisedHost), advertisedPort);
}

FakeFtpServer& FakeFtpServer::PasvReplying(std::string reply, std::string advertisedHost, int advertisedPort) {
  return Add("Pasv", [this, reply, advertisedHost, advertisedPort](Step&) {
    if (!NeedControl()) return false;
    OpenDataListener();
    std::string host = advertisedHost.empty() ? "127.0.0.1" : advertisedHost;
    for (char& c : host) {
      if (c == '.') c = ',';
    }
    const int port = advertisedPort < 0 ? m_dataListenPort : advertisedPort;
    m_greeted = true;
    std::string text = reply;
    const size_t at = text.find("{}");
    if (at != std::string::npos) {
      text.replace(at, 2, host + "," + std::to_string(port / 256) + "," + std::to_string(port % 256));
    }
    m_ctrl->out += text + "\r\n";
    m_ctrl->Flush();
    return true;
  });
}

FakeFtpServer& FakeFtpServer::DataConnect() {
  return Add("DataConnect", [this](Step& s) {
    if (s.waiting) return !m_data || !m_data->connecting;  // connected, or failed (recorded)
    CloseData(Close::kGraceful);
    in_addr addr{};
    if (m_portPort < 0 || m_portPort > 65535 || inet_pton(AF_INET, m_portHost.c_str(), &addr) != 1) {
      Fail("DataConnect: no usable PORT address");
      return true;
    }
    if ((ntohl(addr.s_addr) >> 24) != 127) {
      Fail("DataConnect: refused to connect to " + m_portHost + " (not loopback)");
      return true;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr = addr;
    a.sin_port = htons(static_cast<uint16_t>(m_portPort));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
      Fail("data connection to " + m_portHost + ":" + std::to_string(m_portPort) + " failed: " + strerror(errno));
      close(fd);
      return true;
    }
    m_data = std::make_unique<Channel>(fd, kIoWrite, [this](unsigned ev) { OnData(ev); });
    m_data->connecting = true;
    s.waiting = true;
    return false;
  });
}

FakeFtpServer& FakeFtpServer::DataAccept() {
  return Add("DataAccept", [this](Step&) { return NeedData(); });
}

FakeFtpServer& FakeFtpServer::DataSend(std::string bytes, Pace pace) {
  return AddSend(true, "DataSend " + std::to_string(bytes.size()) + " bytes", std::move(bytes), pace);
}

FakeFtpServer& FakeFtpServer::DataReceive() {
  return Add("DataReceive", [this](Step& s) {
    if (!NeedData()) return false;
    s.bytes += m_data->in;
    m_data->in.clear();
    if (!m_data->peerClosed) return false;
    m_received.push_back(std::move(s.bytes));
    CloseData(Close::kGraceful);
    return true;
  });
}

FakeFtpServer& FakeFtpServer::DataClose() {
  return Add("DataClose", [this](Step&) {
    CloseData(Close::kGraceful);
    return true;
  });
}

FakeFtpServer& FakeFtpServer::Do(std::function<void()> action, std::string description) {
  return Add(std::move(description), [action](Step&) {
    action();
    return true;
  });
}

// ---- results ---------------------------------------------------------------

bool FakeFtpServer::Finished() const { return m_steps.empty() || m_steps.front().stall; }

std::vector<std::string> FakeFtpServer::Failures() const {
  std::vector<std::string> out = m_failures;
  if (Finished()) return out;
  // The step the script is stuck at says most; the rest only count.
  std::string text = "step " + std::to_string(m_stepsDone + 1) + " not reached: " + m_steps.front().description;
  if (m_steps.size() > 1) text += " (and " + std::to_string(m_steps.size() - 1) + " more)";
  out.push_back(text);
  return out;
}

}  // namespace pellan::test
