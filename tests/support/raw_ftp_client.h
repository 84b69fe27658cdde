// A blocking FTP control connection over a raw POSIX socket, for tests that
// check a server (real or fake) without the engine. Every wait is bounded by
// the time-out given at construction; nothing here resolves names.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace pellan::test {

class RawFtpClient {
 public:
  explicit RawFtpClient(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  ~RawFtpClient();
  RawFtpClient(const RawFtpClient&) = delete;
  RawFtpClient& operator=(const RawFtpClient&) = delete;

  // Connects to `host` (a numeric IPv4 address); false with Error() set.
  bool Connect(uint16_t port, const std::string& host = "127.0.0.1");
  void Close();
  bool Connected() const { return m_fd >= 0; }

  // The next whole reply (every line of a multi-line one, joined by CRLF,
  // without the final CRLF); "" on time-out, end of stream or error.
  std::string ReadReply();
  bool SendLine(const std::string& line);  // sends line + CRLF
  std::string Command(const std::string& line) { return SendLine(line) ? ReadReply() : ""; }
  // The greeting, USER and PASS; true when the server answered 230.
  bool Login(const std::string& user, const std::string& password);

  // True when the server closes the connection (end of stream or reset)
  // within the time-out, with nothing more to read before.
  bool WaitForClose();

  const std::string& Error() const { return m_error; }
  int Fd() const { return m_fd; }

  // The three-digit code at the start of a reply, or -1.
  static int Code(const std::string& reply);
  // True when something accepts TCP connections at 127.0.0.1:port.
  static bool PortAccepts(uint16_t port);

 private:
  bool ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline);

  std::chrono::milliseconds m_timeout;
  int m_fd = -1;
  std::string m_buffer;
  std::string m_error;
};

}  // namespace pellan::test
