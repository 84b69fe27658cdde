// The FTP control's error texts and its error routine. The control owns one
// ErrorMessages: the message table's current language column (chosen from
// the user's language when the control is created; a host may choose
// another), the replaceable English column behind the control's Text
// property, GetErrorMessage, and RaiseError, which fills the process's
// error record (SharedErrorRecord) and logs the error there. The control
// reads ErrorNumber and ErrorInfo back from that record.
//
// Error numbers: 16000 + reply code for a refused FTP command; 16001..16011
// the engine's session errors; 20001..20050 argument, file and time-out
// errors; 10004..11004 the Windows Sockets numbers of the socket layer.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "support/message_table.h"

namespace pellan {

class ErrorMessages {
 public:
  // The column of the user's language (CSystem::GetUserLangID).
  ErrorMessages();
  explicit ErrorMessages(int language);

  // The current column: 0 English, 1 Simplified Chinese, 2 Traditional
  // Chinese, 3 Japanese. Any other value is kept but reads English.
  int Language() const { return m_language; }
  void SetLanguage(int language) { m_language = language; }

  // Row `row` of the current column ("" outside the table).
  std::string Row(int row) const;

  // The 43 texts of the current column joined by "|".
  std::string Text() const;
  // Exactly 43 "|"-separated texts replace the English column, which then
  // becomes current; any other count shows the message box "Invalid value
  // for 'Text' Property" and changes nothing; "" does nothing.
  void SetText(const std::string& text);

  // The text of an error number: 20001..20050 by the engine's table, then
  // reply texts (16120 and above), then 16001..16012, then the Windows
  // Sockets texts; a number none of them knows gives the description of the
  // error being handled when there is one, else "Unknown Error" (row 21).
  std::string GetErrorMessage(long number) const;

  // Records an error in the process's error record and logs it (shown in a
  // message box with `showError`). A blank `source` keeps the record's; a
  // `number` of 0 takes the error being handled, and when there is none only
  // a log line is written and the record is left alone. A blank or generic
  // run-time description is replaced by GetErrorMessage(number). Returns "".
  std::string RaiseError(const std::string& source, long number, std::string description, bool showError);

  // The log path RaiseError gives the error record when it has to create it
  // ("" means EngineLogPath()).
  const std::string& LogFilePath() const { return m_logFilePath; }
  void SetLogFilePath(const std::string& path) { m_logFilePath = path; }

  // `text` with "{0}", "{1}", ... replaced by the arguments in order.
  static std::string Fill(const std::string& text, std::initializer_list<std::string_view> args);

 private:
  int m_language;
  std::string m_english[kMessageRows];  // replaceable through SetText
  std::string m_logFilePath;
};

// The messages of the process's FTP control (installed by the control when
// it is created); without one, a process-wide set in the user's language.
// The file helpers take their error texts from here.
ErrorMessages& CurrentErrorMessages();
void SetCurrentErrorMessages(ErrorMessages* messages);  // nullptr: back to the default

}  // namespace pellan
