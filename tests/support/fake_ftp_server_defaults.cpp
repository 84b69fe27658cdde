// The fake FTP server's default answers: what it says once its script has
// run out, when AnswerByDefault is on. Transfers become script steps of
// their own, so they behave exactly like scripted ones.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "support/fake_ftp_server.h"

namespace pellan::test {

FakeFtpServer& FakeFtpServer::AnswerByDefault(bool on) {
  m_defaults = on;
  Advance();
  return *this;
}

bool FakeFtpServer::AnswerNextByDefault() {
  if (!NeedControl()) return false;
  if (!m_greeted) {
    Reply("220 Fake FTP server ready.");
    return true;
  }
  if (m_lines.empty()) return false;
  std::string line = std::move(m_lines.front());
  m_lines.pop_front();
  AnswerLine(line);
  return true;
}

void FakeFtpServer::AnswerLine(const std::string& line) {
  const size_t space = line.find(' ');
  std::string verb = line.substr(0, space);
  std::transform(verb.begin(), verb.end(), verb.begin(), [](unsigned char c) { return std::toupper(c); });
  const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);

  auto custom = m_defaultReplies.find(verb);
  if (custom != m_defaultReplies.end()) {
    Reply(custom->second);
    return;
  }

  const auto file = m_files.find(arg);
  const bool haveFile = file != m_files.end();
  const size_t restart = std::exchange(m_restart, 0);
  // A transfer: 150, the data connection the client set up, 226.
  auto transfer = [&](const std::function<void()>& body) {
    Reply("150 Opening BINARY mode data connection.");
    if (!m_passive) DataConnect();
    body();
    Reply("226 Transfer complete.");
  };

  if (verb == "USER") {
    Reply("331 Password required for " + arg + ".");
  } else if (verb == "PASS") {
    Reply("230 User logged in.");
  } else if (verb == "QUIT") {
    Reply("221 Goodbye.").Drop();
  } else if (verb == "PASV") {
    Pasv();
  } else if (verb == "PORT") {
    Reply(m_portPort >= 0 ? "200 PORT command successful." : "501 Bad PORT address.");
  } else if (verb == "LIST") {
    transfer([&] { DataSend(m_listing).DataClose(); });
  } else if (verb == "RETR") {
    if (!haveFile) {
      Reply("550 " + arg + ": No such file or directory.");
    } else {
      std::string content = file->second.substr(std::min(restart, file->second.size()));
      transfer([&] { DataSend(std::move(content)).DataClose(); });
    }
  } else if (verb == "STOR") {
    std::string kept = haveFile ? file->second.substr(0, std::min(restart, file->second.size())) : "";
    transfer([&] {
      DataReceive().Do([this, arg, kept] { m_files[arg] = kept + m_received.back(); }, "store " + arg);
    });
  } else if (verb == "SIZE") {
    Reply(haveFile ? "213 " + std::to_string(file->second.size()) : "550 " + arg + ": No such file.");
  } else if (verb == "DELE") {
    if (haveFile) m_files.erase(file);
    Reply(haveFile ? "250 DELE command successful." : "550 " + arg + ": No such file or directory.");
  } else if (verb == "REST") {
    m_restart = static_cast<size_t>(std::strtoull(arg.c_str(), nullptr, 10));
    Reply("350 Restarting at " + std::to_string(m_restart) + ".");
  } else if (verb == "PWD") {
    Reply("257 \"/\" is the current directory.");
  } else if (verb == "CWD" || verb == "RMD") {
    Reply("250 " + verb + " command successful.");
  } else if (verb == "MKD") {
    Reply("257 \"" + arg + "\" created.");
  } else if (verb == "TYPE") {
    Reply("200 Type set to " + arg + ".");
  } else {
    Reply("502 Command not implemented.");
  }
}

}  // namespace pellan::test
