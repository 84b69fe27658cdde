// The client's plain-text trail beside the program: the run log
// "plnrc.log", the error log "plnrc.err" and the server-message log
// "plnrc.msg", written only while logging is on, and the login result files
// "succ.txt" and "err.txt", written always.
//
// A log line is the message, "   {   ", the date and time
// ("YYYY-MM-DD HH:MM:SS") and "   }   ", then CR LF; an error-log line
// starts with "[" procedure "]" unless the procedure name is blank. A message
// may hold CR LF pairs and is written as it is, so one entry can span lines.
// A log larger than 1,024,000 bytes is renamed NAME.1 (replacing the one
// before) ahead of the next line, which then starts a fresh file. Every
// write opens, appends and closes the file; every failure loses that one
// line and nothing else.
//
// Lines that repeat the lines just before them (up to kMaxFold lines, as a
// quiet pass writes the same few lines five times a second) are held back,
// and once a whole run of them has repeated it is dropped and counted: when
// something else comes, one line says how many times and until when, then
// what came. Dates and times inside a message do not count as a change.
// Repeats held or counted when the process ends are lost, never a line that
// differs.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace pellan::client {

class ClientLogs {
 public:
  static constexpr int64_t kSizeLimit = 1'024'000;
  static constexpr size_t kMaxFold = 8;

  explicit ClientLogs(std::string folder = std::string(), bool logOn = false)
      : m_folder(std::move(folder)), m_logOn(logOn) {}

  void SetFolder(const std::string& folder) { m_folder = folder; }
  bool LogOn() const { return m_logOn; }
  void SetLogOn(bool on) { m_logOn = on; }
  // The title of the message boxes WriteError shows.
  void SetMessageTitle(const std::string& title) { m_messageTitle = title; }

  void WriteLog(const std::string& message) const;
  void WriteMSG(const std::string& message) const;
  // With `show`, the message is first shown in a message box (only while
  // logging is on: with logging off nothing at all happens).
  void WriteError(const std::string& procedure, const std::string& message, bool show) const;
  // Deletes, then writes, "succ.txt" (success) or "err.txt" holding `text`;
  // false (errno set) when it could not be written.
  bool WriteConnectLog(bool success, const std::string& text) const;

  std::string FilePath(const std::string& name) const;

 private:
  // The lines of one log that may be repeating.
  struct Fold {
    std::deque<std::string> keys;   // the last lines, as compared, written or not
    std::vector<std::string> held;  // lines held back while they repeat
    size_t period = 0;              // the length of the repeating run, 0: none
    long repeats = 0;               // whole runs dropped
    std::string lastTime;           // when the last of them came
  };
  void Append(const std::string& name, const std::string& message) const;
  void AppendCapped(const std::string& name, const std::string& entry) const;

  std::string m_folder;
  bool m_logOn;
  std::string m_messageTitle;
  mutable std::map<std::string, Fold> m_folds;
};

// The text a log line carries after the message.
std::string LogTimeMark();

}  // namespace pellan::client
