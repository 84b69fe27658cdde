// The script runner of the fake FTP server: sockets, the step queue and the
// steps themselves. The default answers are in fake_ftp_server_defaults.cpp.
#include "support/fake_ftp_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "support/raw_ftp_client.h"

namespace pellan::test {

namespace {

// A listening socket on 127.0.0.1 at a port of the system's choosing.
int ListenLoopback(uint16_t& port) {
  port = 0;
  const int fd = RawFtpClient::Listen(&port);
  if (fd < 0) throw std::runtime_error(std::string("fake server: cannot listen: ") + strerror(errno));
  return fd;
}

// The server's end of a connection; `onEvents` runs after each round of I/O.
std::unique_ptr<RawFtpClient> Peer(int fd, std::function<void()> onEvents) {
  auto peer = std::make_unique<RawFtpClient>();
  peer->Adopt(fd, std::move(onEvents));
  return peer;
}

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

}  // namespace

struct FakeFtpServer::Step {
  std::string description;
  StepFn run;
  std::string bytes;  // to send, or received so far
  Milliseconds gap{0};
  size_t offset = 0;
  bool waiting = false;
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
  CloseData(Close::kGraceful);
  for (int fd : m_waitingConns) close(fd);
  m_listenWatch.Reset();
  close(m_listenFd);
}

// ---- sockets ---------------------------------------------------------------

void FakeFtpServer::OnListen() {
  for (int fd; (fd = accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;
       ++m_connections) {
    m_waitingConns.push_back(fd);
  }
  if (!m_ctrl) Promote();
  Advance();
}

// Drops a control connection the client has closed and makes the next
// waiting one current.
void FakeFtpServer::Promote() {
  if (m_ctrl && m_ctrl->PeerClosed()) CloseControl(Close::kGraceful);
  if (m_ctrl || m_waitingConns.empty()) return;
  m_ctrl = Peer(m_waitingConns.front(), [this] { TakeLines(), Advance(); });
  m_waitingConns.pop_front();
  m_greeted = false;
}

void FakeFtpServer::TakeLines() {
  std::string& in = m_ctrl->Received();  // a line not yet ended stays there
  for (size_t eol; (eol = in.find('\n')) != std::string::npos;) {
    std::string line = in.substr(0, eol);
    in.erase(0, eol + 1);
    if (line.empty() || line.back() != '\r') Fail("command line not ended by CRLF: " + Quoted(line));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    m_transcript.push_back(line);
    m_lines.push_back(line);
    unsigned h[4], p[2];
    if (line.rfind("PORT ", 0) == 0) m_portPort = -1;  // until it parses
    if (sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0], &p[1]) == 6) {
      char host[64];
      snprintf(host, sizeof host, "%u.%u.%u.%u", h[0], h[1], h[2], h[3]);
      m_portHost = host;
      m_portPort = static_cast<int>(p[0] * 256 + p[1]);
      m_passive = false;
    }
  }
}

void FakeFtpServer::OnDataListen() {
  const int fd = accept4(m_dataListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) {
    if (m_data) {
      close(fd);  // one data connection at a time, as a real server
    } else {
      m_data = Peer(fd, [this] { Advance(); });
    }
    // Listener closed once used, like a real server's.
    m_dataListenWatch.Reset();
    close(std::exchange(m_dataListenFd, -1));
  }
  Advance();
}

void FakeFtpServer::CloseData(Close how) {
  if (m_data) m_data->Close(how == Close::kReset);
  m_data.reset();
  m_dataListenWatch.Reset();
  if (m_dataListenFd >= 0) close(std::exchange(m_dataListenFd, -1));
}

void FakeFtpServer::CloseControl(Close how) {
  if (m_ctrl) m_ctrl->Close(how == Close::kReset);
  m_ctrl.reset();
  m_lines.clear();
}

bool FakeFtpServer::NeedControl() {
  if (ControlOpen()) return true;
  Promote();
  return m_ctrl != nullptr;
}

bool FakeFtpServer::NeedData() {
  return m_data != nullptr;
}

bool FakeFtpServer::ControlOpen() const {
  return m_ctrl && !m_ctrl->PeerClosed();
}

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
    for (; !m_steps.empty() && m_steps.front().run(m_steps.front()); ++m_stepsDone) m_steps.pop_front();
    if (m_steps.empty() && m_defaults && AnswerNextByDefault()) m_again = true;
  } while (m_again);
  m_inAdvance = false;
}

FakeFtpServer& FakeFtpServer::Add(std::string description, StepFn run, std::string bytes, Milliseconds gap) {
  m_steps.push_back(Step{std::move(description), std::move(run), std::move(bytes), gap, 0, false});
  Advance();
  return *this;
}

// A step that sends its bytes on the control or the data connection.
FakeFtpServer::StepFn FakeFtpServer::Sender(bool data) {
  return [this, data](Step& s) {
    if (data ? !NeedData() : !NeedControl()) return false;
    RawFtpClient& ch = data ? *m_data : *m_ctrl;
    m_greeted |= !data;
    while (!ch.PeerClosed() && !ch.Sending() && s.offset < s.bytes.size()) {
      if (s.offset > 0 && s.gap.count() > 0 && !Waited(s, s.gap)) return false;
      const size_t n = s.gap.count() > 0 ? 1 : s.bytes.size() - s.offset;
      ch.Queue(s.bytes.substr(s.offset, n));
      s.offset += n;
    }
    // Done once all went out, or nobody reads it any more (the rest is dropped).
    return ch.PeerClosed() || (s.offset >= s.bytes.size() && !ch.Sending());
  };
}

FakeFtpServer& FakeFtpServer::SendRaw(std::string bytes, Milliseconds gap) {
  return Add("Send " + Quoted(bytes), Sender(false), bytes, gap);
}

FakeFtpServer& FakeFtpServer::Expect(const std::string& line) {
  const bool prefix = !line.empty() && line.back() == '*';
  return Add(Quoted(line), [this, line, prefix](Step&) {
    while (!m_lines.empty()) {
      const std::string got = m_lines.front();
      m_lines.pop_front();
      if (prefix ? got.rfind(line.substr(0, line.size() - 1), 0) == 0 : got == line) return true;
      Fail("expected " + Quoted(line) + ", got " + Quoted(got));
      if (ControlOpen()) m_ctrl->Queue("500 Unexpected command.\r\n");
    }
    if (!ControlOpen()) Promote();  // the client left: its next connection goes on
    return false;
  });
}

FakeFtpServer& FakeFtpServer::Script(const std::string& items, const std::vector<std::string>& data) {
  size_t next = 0;
  for (size_t at = 0, bar; at <= items.size(); at = bar + 1) {
    bar = std::min(items.find('|', at), items.size());
    const std::string item = items.substr(at, bar - at);
    const size_t arrow = item.find('>');
    if (item == "PASV") {
      Expect(item).Pasv();
    } else if (item == "<login>") {
      Login();
    } else if (item == "<drop>" || item == "<reset>") {
      Drop(item == "<drop>" ? Close::kGraceful : Close::kReset);
    } else if (item == "<close>") {
      ExpectClose();
    } else if (item == "<data>" || item == "<part>") {
      DataSend(data.at(next++));
      if (item == "<data>") DataClose();
    } else if (item == "<connect>") {
      DataConnect();
    } else if (std::isdigit(static_cast<unsigned char>(item[0]))) {
      Reply(item);
    } else {
      Expect(item.substr(0, arrow));
      if (arrow != std::string::npos && arrow + 1 < item.size()) Reply(item.substr(arrow + 1));
    }
  }
  return *this;
}

FakeFtpServer& FakeFtpServer::Login() {
  return Script("220 Fake FTP server ready.|USER user>331 Password required for user.|PASS pass>230 User logged in.");
}

// True once `ms` have passed since the step first asked.
bool FakeFtpServer::Waited(Step& step, Milliseconds ms) {
  if (!step.waiting) {
    step.waiting = true;
    m_timerFired = ms.count() <= 0;
    if (!m_timerFired) {
      m_timer.SetInterval(ms);
      m_timer.SetEnabled(true);
    }
  }
  if (!m_timerFired) return false;
  step.waiting = m_timerFired = false;
  return true;
}

FakeFtpServer& FakeFtpServer::Delay(Milliseconds ms) {
  return Add("Delay " + std::to_string(ms.count()) + " ms", [this, ms](Step& s) { return Waited(s, ms); });
}

FakeFtpServer& FakeFtpServer::Stall() {
  return Add("Stall", [](Step&) { return false; });
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
    if (ControlOpen()) return false;
    CloseControl(Close::kGraceful);
    return true;
  });
}

FakeFtpServer& FakeFtpServer::Pasv(std::string reply, std::string host, int port) {
  return Add("Pasv", [this, reply, host, port](Step&) {
    if (!NeedControl()) return false;
    CloseData(Close::kGraceful);
    m_dataListenFd = ListenLoopback(m_dataListenPort);
    m_dataListenWatch = LoopWatch(m_dataListenFd, kIoRead, [this](unsigned) { OnDataListen(); });
    m_passive = m_greeted = true;
    std::string numbers = (host.empty() ? "127.0.0.1" : host) + ",";
    for (char& c : numbers) c = c == '.' ? ',' : c;
    const int p = port < 0 ? m_dataListenPort : port;
    std::string text = reply;
    const size_t at = text.find("{}");
    if (at != std::string::npos)
      text.replace(at, 2, numbers + std::to_string(p / 256) + "," + std::to_string(p % 256));
    if (const size_t mark = text.find("{port}"); mark != std::string::npos) text.replace(mark, 6, std::to_string(p));
    m_ctrl->Queue(text + "\r\n");
    return true;
  });
}

FakeFtpServer& FakeFtpServer::DataConnect() {
  return Add("DataConnect", [this](Step&) {
    CloseData(Close::kGraceful);
    const bool loopback = m_portPort >= 0 && m_portPort <= 65535 && m_portHost.rfind("127.", 0) == 0;
    const int fd = loopback ? RawFtpClient::ConnectTo(static_cast<uint16_t>(m_portPort), m_portHost) : -1;
    if (fd < 0) {
      Fail(loopback ? "data connection to " + m_portHost + ":" + std::to_string(m_portPort) + " failed: " +
                          strerror(errno)
                    : "DataConnect: no loopback PORT address: " + m_portHost);
      return true;
    }
    m_data = Peer(fd, [this] { Advance(); });
    return true;
  });
}

FakeFtpServer& FakeFtpServer::DataAccept() {
  return Add("DataAccept", [this](Step&) { return NeedData(); });
}

FakeFtpServer& FakeFtpServer::DataSend(std::string bytes, Milliseconds gap) {
  return Add("DataSend " + std::to_string(bytes.size()) + " bytes", Sender(true), std::move(bytes), gap);
}

FakeFtpServer& FakeFtpServer::DataReceive() {
  return Add("DataReceive", [this](Step& s) {
    if (!NeedData()) return false;
    s.bytes += std::exchange(m_data->Received(), {});
    if (!m_data->PeerClosed()) return false;
    m_received.push_back(std::move(s.bytes));
    CloseData(Close::kGraceful);
    return true;
  });
}

FakeFtpServer& FakeFtpServer::DataClose() {
  return Do([this] { CloseData(Close::kGraceful); }, "DataClose");
}

FakeFtpServer& FakeFtpServer::Do(std::function<void()> action, std::string description) {
  return Add(std::move(description), [action](Step&) { return action(), true; });
}

// ---- results ---------------------------------------------------------------

bool FakeFtpServer::Finished() const {
  return m_steps.empty() || m_steps.front().description == "Stall";
}

std::vector<std::string> FakeFtpServer::Failures() const {
  std::vector<std::string> out = m_failures;
  if (Finished()) return out;
  // The step the script is stuck at says most; the rest only count.
  out.push_back("step " + std::to_string(m_stepsDone + 1) + " not reached: " + m_steps.front().description);
  if (m_steps.size() > 1) out.back() += " (and " + std::to_string(m_steps.size() - 1) + " more)";
  return out;
}

}  // namespace pellan::test
