// The fake FTP server's default answers: what it says once its script has
// run out, when AnswerByDefault is on. Transfers become script steps of
// their own, so they behave exactly like scripted ones.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "support/fake_ftp_server.h"

namespace pellan::test {

FakeFtpServer& FakeFtpServer::AnswerByDefault() {
  m_defaults = true;
  // The plain replies; "%" stands for the command's argument.
  for (const auto& [verb, reply] :
       std::map<std::string, std::string>{{"USER", "331 Password required for %."},
                                          {"PASS", "230 User logged in."},
                                          {"TYPE", "200 Type set to %."},
                                          {"PWD", "257 \"/\" is the current directory."},
                                          {"CWD", "250 CWD command successful."},
                                          {"RMD", "250 RMD command successful."},
                                          {"MKD", "257 \"%\" created."}}) {
    m_defaultReplies.emplace(verb, reply);
  }
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
  const std::string line = m_lines.front();
  m_lines.pop_front();
  const size_t space = line.find(' ');
  std::string verb = line.substr(0, space);
  std::transform(verb.begin(), verb.end(), verb.begin(), [](unsigned char c) { return std::toupper(c); });
  const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
  for (auto hook = m_hooks.begin(); hook != m_hooks.end(); ++hook) {
    if (hook->first != line) continue;
    const auto action = std::move(hook->second);
    m_hooks.erase(hook);
    if (action()) return true;
    break;
  }

  if (auto plain = m_defaultReplies.find(verb); plain != m_defaultReplies.end()) {
    std::string text = plain->second;
    if (const size_t at = text.find('%'); at != std::string::npos) text.replace(at, 1, arg);
    Reply(text);
    return true;
  }
  const auto file = m_files.find(arg);
  const bool haveFile = file != m_files.end();
  const size_t restart = std::exchange(m_restart, 0);
  // A transfer: 150, the data connection the client set up, the data, 226.
  auto transfer = [&](const std::function<void()>& data) {
    Reply("150 Opening BINARY mode data connection.");
    if (!m_passive) DataConnect();
    data();
    Reply("226 Transfer complete.");
  };
  if (verb == "QUIT") {
    Reply("221 Goodbye.").Drop();
  } else if (verb == "PASV" || verb == "EPSV") {
    Pasv(verb == "PASV" ? "227 Entering Passive Mode ({})." : kEpsvReply);
  } else if (verb == "PORT") {
    Reply(m_portPort >= 0 ? "200 PORT command successful." : "501 Bad PORT address.");
  } else if (verb == "LIST" && m_listFiles) {
    std::string body = m_listing;
    for (const auto& [path, content] : m_files) {
      if (path.rfind(arg + "/", 0) != 0 || path.find('/', arg.size() + 1) != std::string::npos) continue;
      const auto claimed = m_claimedSizes.find(path);
      body += "-rw-r--r--    1 ftp      ftp      " +
              std::to_string(claimed == m_claimedSizes.end() ? content.size() : claimed->second) + " Jan 01 00:00 " +
              path.substr(arg.size() + 1) + "\r\n";
    }
    transfer([&] { DataSend(std::move(body)).DataClose(); });
  } else if (verb == "LIST" || (verb == "RETR" && haveFile)) {
    std::string content =
        verb == "LIST" ? m_listing : file->second.substr(std::min(restart, file->second.size()));
    transfer([&] { DataSend(std::move(content)).DataClose(); });
  } else if (verb == "STOR") {
    std::string kept = haveFile ? file->second.substr(0, std::min(restart, file->second.size())) : "";
    transfer([&] {
      DataReceive().Do([this, arg, kept] { m_files[arg] = kept + m_received.back(); }, "store " + arg);
    });
  } else if (verb == "SIZE" && haveFile) {
    Reply("213 " + std::to_string(file->second.size()));
  } else if (verb == "DELE" && haveFile) {
    m_files.erase(file);
    Reply("250 DELE command successful.");
  } else if (verb == "RNFR" && haveFile) {
    m_renameFrom = arg;
    Reply("350 Ready for RNTO.");
  } else if (verb == "RNTO" && m_files.count(m_renameFrom)) {
    const std::string content = m_files[m_renameFrom];
    m_files.erase(std::exchange(m_renameFrom, ""));
    m_files[arg] = content;
    Reply("250 Rename successful.");
  } else if (verb == "RETR" || verb == "SIZE" || verb == "DELE" || verb == "RNFR") {
    Reply("550 " + arg + ": No such file or directory.");
  } else if (verb == "REST") {
    m_restart = static_cast<size_t>(std::strtoull(arg.c_str(), nullptr, 10));
    Reply("350 Restarting at " + std::to_string(m_restart) + ".");
  } else {
    Reply("502 Command not implemented.");
  }
  return true;
}

}  // namespace pellan::test
