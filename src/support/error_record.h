// The FTP engine's error record and its error log. One record serves the
// whole process (SharedErrorRecord): the engine's error routine fills it, the
// control's ErrorNumber and ErrorInfo read it, and every part of the engine
// appends diagnostic lines to its log through WriteFile.
//
// A log line is the caller's text, two blanks, "{", the date and time
// ("YYYY-MM-DD HH:MM:SS"), "}" and CR LF, in the process code page. Each
// line opens, appends and closes the file, so it can be read or removed
// between lines. The log is unattended: a file larger than 1,024,000 bytes
// is deleted before the next line is written, so it starts afresh instead of
// growing for ever.
#pragma once

#include <cstdint>
#include <string>

namespace pellan {

class CError {
 public:
  static constexpr int64_t kLogSizeLimit = 1'024'000;

  long Number() const { return m_number; }
  void SetNumber(long number) { m_number = number; }
  const std::string& Description() const { return m_description; }
  void SetDescription(const std::string& description) { m_description = description; }
  const std::string& Source() const { return m_source; }
  void SetSource(const std::string& source) { m_source = source; }
  const std::string& LogFilePath() const { return m_logFilePath; }
  void SetLogFilePath(const std::string& path) { m_logFilePath = path; }
  // When true, DealError also shows every error in a message box.
  bool ShowError() const { return m_showError; }
  void SetShowError(bool show) { m_showError = show; }
  // When true, the engine also logs each step of its operations.
  bool Verbose() const { return m_verbose; }
  void SetVerbose(bool verbose) { m_verbose = verbose; }

  // The number of the error being handled (current_error.h); when none is,
  // errno.
  long GetErrorNumber() const;

  // Completes and reports the recorded error: a missing number is taken from
  // the error being handled (when there is neither a number nor a text,
  // nothing is reported), a missing text likewise; `errSource` (when not
  // blank) becomes the Source; with ShowError or `errShow` a message box
  // shows Description + "(" + Number + ")"; and, when the log's folder
  // exists, the log gets Source + "|" + Description + "(" + Number + ")".
  void DealError(const std::string& errSource, bool errShow);

  // Appends one log line (or replaces the file with it when `overWrite`).
  // False when there is no log path or the line cannot be written.
  bool WriteFile(const std::string& text, bool overWrite = false);

  // Forgets the last error (Number, Description, Source).
  void Clear();

 private:
  long m_number = 0;
  std::string m_description;
  std::string m_source;
  std::string m_logFilePath;
  bool m_showError = false;
  bool m_verbose = false;
};

// The process's record, created on first use with no log path; the FTP
// control gives it EngineLogPath() when it starts.
CError& SharedErrorRecord();
bool SharedErrorRecordExists();

// A step of an operation ("Upload: sending -> ended"), logged only when the
// shared record is verbose.
void LogStep(const std::string& operation, const char* from, const char* to);

// Where the engine keeps its log: "TolvarFtp.Log" in
// ${XDG_STATE_HOME:-$HOME/.local/state}/tolvarftp/, the folder created when
// missing. "" when there is no home folder to put it in.
std::string EngineLogPath();

}  // namespace pellan
