// A scripted FTP server for tests: it plays exactly the replies, pauses,
// drops and data transfers a test asks for, and records every command line
// the client sent, so a test can assert the whole conversation.
//
// It runs inside the current event loop (create it after the test's
// ScopedLoop) with non-blocking sockets and loop timers, no thread: under a
// TestClock its delays and stalls pass in virtual time, and a client driven
// by the same loop talks to it deterministically. It listens on 127.0.0.1 at
// a port of the system's choosing (Port()).
//
// The script is a queue of steps run in order; each step waits for what it
// needs (a connection, a command, a timer, the data peer). Control steps run
// on the current control connection; once the client has closed it, the next
// control step waits for the client's next connection (a reconnect). Steps
// that need a data connection wait for the client to connect to the last
// PASV listener, or use the one a DataConnect() step opened (PORT).
//
//   FakeFtpServer s;
//   s.Login().Script("TYPE I>200 Type set to I.|PASV|RETR a.txt>150 Opening.")
//    .DataSend("hello", 10ms).DataClose().Reply("226 Transfer complete.");
//   ... drive the client ...
//   EXPECT_THAT(s.Failures(), IsEmpty());
//
// With AnswerByDefault(true), once the script has run out every command is
// answered from a table of ordinary replies (login accepted, PASV/PORT data
// connections, RETR/STOR over an in-memory set of files, LIST with a set
// listing), so short tests script only what matters to them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_loop.h"

namespace pellan::test {

class RawFtpClient;

inline constexpr char kEpsvReply[] = "229 Entering Extended Passive Mode (|||{port}|)";

class FakeFtpServer {
 public:
  enum class Close { kGraceful, kReset };  // FIN, or RST (SO_LINGER 0)

  FakeFtpServer();
  ~FakeFtpServer();
  FakeFtpServer(const FakeFtpServer&) = delete;
  FakeFtpServer& operator=(const FakeFtpServer&) = delete;

  uint16_t Port() const { return m_port; }

  // ---- script steps (each returns *this) --------------------------------
  // Bytes as given (garbage, NUL bytes, a bare LF); with a `gap`, byte by
  // byte with that pause between them.
  FakeFtpServer& SendRaw(std::string bytes, Milliseconds gap = Milliseconds(0));
  // A reply line: `text` + CRLF (a multi-line reply is one text with inner CRLFs).
  FakeFtpServer& Reply(const std::string& text) { return SendRaw(text + "\r\n"); }
  // The next command line is exactly `line` (without its CRLF), or, for a
  // `line` that ends in '*', any line it begins. On a mismatch the server
  // records a failure, answers "500 Unexpected command." and keeps waiting.
  FakeFtpServer& Expect(const std::string& line);
  // A conversation in short, items split on '|': "CMD>reply" expects CMD and
  // answers ("CMD>" and "CMD" only expect it); "PASV" expects it and answers as
  // Pasv(); an item that starts with a digit is a reply alone; "<login>", "<drop>", "<reset>" and
  // "<close>" are Login(), Drop(), Drop(kReset) and ExpectClose(); "<data>"
  // sends the next of `data` on the data connection and closes it, "<part>"
  // sends it only; "<connect>" is DataConnect(); any other item is a command
  // expected.
  FakeFtpServer& Script(const std::string& items, const std::vector<std::string>& data = {});
  // Greeting, USER user and PASS pass answered 220 / 331 / 230.
  FakeFtpServer& Login();
  FakeFtpServer& Delay(Milliseconds ms);              // a loop timer: virtual under a TestClock
  FakeFtpServer& Stall();                             // never go further (commands are still recorded)
  FakeFtpServer& Drop(Close how = Close::kGraceful);  // closes control and data connections
  FakeFtpServer& ExpectClose();                       // waits until the client closes the control connection

  // Passive mode: opens a data listener on 127.0.0.1 and sends `reply` with
  // "{}" standing for the six numbers "h1,h2,h3,h4,p1,p2" of the listener,
  // or of the host text and port given (a negative port: the listener's),
  // and "{port}" for the port alone (kEpsvReply).
  // The listener accepts one connection, whatever was advertised.
  FakeFtpServer& Pasv(std::string reply = "227 Entering Passive Mode ({}).", std::string host = "",
                      int port = -1);
  // Active mode: connects to the address of the client's last PORT command
  // (loopback only; anything else is recorded as a failure).
  FakeFtpServer& DataConnect();
  // Data steps wait for the data connection to exist (passive: the client's
  // connect to the listener).
  FakeFtpServer& DataAccept();
  FakeFtpServer& DataSend(std::string bytes, Milliseconds gap = Milliseconds(0));
  // Keeps everything the client sends on the data connection until it closes
  // it (an upload), then closes the server's side. See Received().
  FakeFtpServer& DataReceive();
  FakeFtpServer& DataClose();
  // Runs `action` at this point of the script (for checks or side effects).
  FakeFtpServer& Do(std::function<void()> action, std::string description = "Do");

  // ---- default answers once the script has run out ----------------------
  FakeFtpServer& AnswerByDefault();
  // Replaces the default reply of a command verb ("SIZE"; "%" stands for the argument).
  void SetDefaultReply(const std::string& verb, std::string reply) {
    m_defaultReplies[verb] = std::move(reply);
  }
  // The files that RETR, SIZE and DELE see and STOR writes (flat names).
  void SetFile(const std::string& name, std::string content) { m_files[name] = std::move(content); }
  // When the client sends `line` (once), `action` runs before the default
  // answer; returning true, it has answered instead (or left it unanswered).
  void OnCommand(std::string line, std::function<bool()> action) { m_hooks.emplace_back(line, std::move(action)); }
  const std::map<std::string, std::string>& Files() const { return m_files; }
  void SetListing(std::string body) { m_listing = std::move(body); }  // the body a LIST sends
  // LIST FOLDER sends the set listing and then a line for each file in
  // FOLDER, with its size or the one ClaimSize gave it.
  void ListFiles() { m_listFiles = true; }
  void ClaimSize(const std::string& name, size_t size) { m_claimedSizes[name] = size; }

  // ---- what happened ----------------------------------------------------
  // Every command line the client sent, in order, over all connections.
  const std::vector<std::string>& Transcript() const { return m_transcript; }
  // Lets go of the transcript and the uploads received (for a long run).
  void ForgetHistory() {
    std::vector<std::string>().swap(m_transcript);
    std::vector<std::string>().swap(m_received);
  }
  // What each DataReceive() step (and each default STOR) got, in order.
  const std::vector<std::string>& Received() const { return m_received; }
  // Unexpected commands, lines not ended by CRLF, refused PORT addresses,
  // failed data connects, and, while the script has not finished, the step
  // it waits at ("step 7 not reached: \"PASS x\" (and 3 more)").
  std::vector<std::string> Failures() const;
  bool Finished() const;  // the script ran to its end, or to its Stall (steps after a Stall never run)
  int LastPort() const { return m_portPort; }  // of the last PORT command; -1 when it did not parse
  int ConnectionCount() const { return m_connections; }  // control connections accepted
  bool ControlOpen() const;  // a control connection is open (client not gone)

 private:
  struct Step;
  using StepFn = std::function<bool(Step&)>;  // true: the step is done

  FakeFtpServer& Add(std::string description, StepFn run, std::string bytes = "",
                     Milliseconds gap = Milliseconds(0));
  StepFn Sender(bool data);
  void Advance();
  bool Waited(Step& step, Milliseconds ms);
  bool NeedControl();  // true when a control connection is ready for a step
  bool NeedData();
  void Fail(std::string what) { m_failures.push_back(std::move(what)); }

  void OnListen();
  void OnDataListen();
  void Promote();
  void TakeLines();
  void CloseData(Close how);
  void CloseControl(Close how);
  bool AnswerNextByDefault();  // false when there was nothing to answer

  int m_listenFd = -1;
  uint16_t m_port = 0;
  LoopWatch m_listenWatch;
  std::unique_ptr<RawFtpClient> m_ctrl;
  std::deque<int> m_waitingConns;  // accepted, not yet current
  int m_dataListenFd = -1;
  uint16_t m_dataListenPort = 0;
  LoopWatch m_dataListenWatch;
  std::unique_ptr<RawFtpClient> m_data;
  LoopTimer m_timer;
  bool m_timerFired = false;

  std::deque<Step> m_steps;
  size_t m_stepsDone = 0;
  bool m_inAdvance = false;
  bool m_again = false;

  std::deque<std::string> m_lines;  // received, not yet consumed by a step
  std::string m_portHost;           // from the last PORT command
  int m_portPort = -1;
  bool m_passive = true;  // the last data set-up was PASV, not PORT

  bool m_defaults = false;
  bool m_greeted = false;
  std::map<std::string, std::string> m_defaultReplies;
  std::map<std::string, std::string> m_files;
  std::string m_listing;
  size_t m_restart = 0;  // REST offset for the next RETR/STOR
  std::string m_renameFrom;  // the RNFR waiting for its RNTO
  bool m_listFiles = false;
  std::map<std::string, size_t> m_claimedSizes;
  std::vector<std::pair<std::string, std::function<bool()>>> m_hooks;

  std::vector<std::string> m_transcript;
  std::vector<std::string> m_received;
  std::vector<std::string> m_failures;
  int m_connections = 0;
};

}  // namespace pellan::test
