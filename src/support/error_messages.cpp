#include "support/error_messages.h"

#include <memory>
#include <vector>

#include "platform/front_end.h"
#include "support/current_error.h"
#include "support/error_record.h"
#include "support/system.h"
#include "support/text.h"

namespace pellan {

namespace {

// A number's text: a row of the message table (current language) or a
// fixed English text.
struct NumberText {
  long number;
  int row;  // -1: use `text`
  const char* text;
};

constexpr NumberText kEngineErrors[] = {
    {20001, kRowHostnameRequired, nullptr},
    {20002, kRowUnableToResolveHost, nullptr},
    {20003, kRowFileTooBig, nullptr},
    {20004, kRowTimedOut, nullptr},
    {20005, kRowNoRemotePath, nullptr},
    {20006, kRowNoLocalPath, nullptr},
    {20007, kRowFileNotFound, nullptr},
    {20008, kRowFolderNotFound, nullptr},
    {20009, kRowFileNotFound, nullptr},
    {20010, kRowFolderNotFound, nullptr},
    {20011, kRowInvalidPath, nullptr},
    {20012, kRowFileExists, nullptr},
    {20013, -1, "Failed to get current/working directory"},
    {20014, -1, "Lose Data"},
    {20016, -1, "Don't support the path which contain space;"},
    {20019, kRowNoSavePath, nullptr},
    {20020, kRowCreateFolderFailed, nullptr},
    {20021, kRowTypeNotAllowed, nullptr},
    {20022, kRowTypeForbidden, nullptr},
    {20023, kRowCreateFileFailed, nullptr},
    {20024, kRowOpenFileFailed, nullptr},
    {20050, -1, "Create Window Error"},
};

// Numbers added after the 43-row table was fixed: their texts in the four
// columns here, outside the texts that the Text property replaces.
struct LanguageTexts {
  long number;
  const char* texts[kMessageLanguages];
};

constexpr LanguageTexts kLaterEngineErrors[] = {
    {20035,
     {"The listing is longer than 256 MiB", "目录列表超过 256 MiB", "目錄列表超過 256 MiB",
      "ディレクトリ一覧が 256 MiB を超えています"}},
    {20040,
     {"The server refused TLS ({0} to AUTH TLS: {1}); nothing more was sent",
      "服务器拒绝了 TLS（AUTH TLS 的回复为 {0}：{1}），未再发送任何内容",
      "伺服器拒絕了 TLS（AUTH TLS 的回覆為 {0}：{1}），未再傳送任何內容",
      "サーバーが TLS を拒否しました（AUTH TLS への応答 {0}: {1}）。それ以上は送信していません"}},
    {20041,
     {"The TLS handshake failed: {0}", "TLS 握手失败：{0}", "TLS 交握失敗：{0}", "TLS ハンドシェイクに失敗しました: {0}"}},
    {20042,
     {"The server's certificate was not accepted: {0}", "服务器证书未被接受：{0}", "伺服器憑證未被接受：{0}",
      "サーバー証明書が受け入れられませんでした: {0}"}},
};

constexpr NumberText kReplyTexts[] = {
    {16120, -1, "Service ready in nnn minutes."},
    {16332, -1, "Need account for login."},
    {16350, -1, "Requested file action pending further information."},
    {16421, -1, "Service not available, closing control connection."},
    {16425, -1, "Can 't open data connection."},
    {16426, -1, "Connection closed; transfer aborted."},
    {16450, -1, "Requested file action not taken."},
    {16451, -1, "Requested action aborted: local error in processing."},
    {16452, -1, "Requested action not taken."},
    {16500, -1, "Syntax error, command unrecognized."},
    {16501, -1, "Syntax error in parameters or arguments."},
    {16502, -1, "Command not implemented."},
    {16503, -1, "Bad sequence of commands."},
    {16504, -1, "Command not implemented for that parameter."},
    {16530, kRowLoginFailed, nullptr},
    {16532, -1, "Need account for storing files."},
    {16550, -1, "Requested action not taken."},
    {16551, -1, "Requested action aborted: page type unknown."},
    {16552, -1, "Requested file action aborted."},
    {16553, -1, "Requested action not taken."},
};

constexpr NumberText kSessionErrors[] = {
    {16001, -1, "Failed to get current/working directory"},
    {16002, -1, "Unknowed file list type."},
    {16006, kRowConnectFailed, nullptr},
    {16007, kRowConnecting, nullptr},
    {16008, kRowNotConnected, nullptr},
    {16009, kRowPreviousUnfinished, nullptr},
    {16010, kRowCanceled, nullptr},
    {16011, -1, "Connection is interrupted"},
};

constexpr NumberText kWinsockTexts[] = {
    {10004, -1, "Interrupted function call."},
    {10013, kRowPermissionDenied, nullptr},
    {10014, -1, "Bad address."},
    {10022, -1, "Invalid argument."},
    {10024, -1, "Too many open files."},
    {10035, -1, "Resource temporarily unavailable."},
    {10036, -1, "Operation now in progress."},
    {10037, -1, "Operation already in progress."},
    {10038, -1, "Socket operation on nonsocket."},
    {10039, -1, "Destination address required."},
    {10040, -1, "Message too long."},
    {10041, -1, "Protocol wrong type for socket."},
    {10042, -1, "Bad protocol option."},
    {10043, -1, "Protocol not supported."},
    {10044, -1, "Socket type not supported."},
    {10045, -1, "Operation not supported."},
    {10046, -1, "Protocol family not supported."},
    {10047, -1, "Address family not supported by protocol family."},
    {10048, -1, "Address already in use."},
    {10049, -1, "Cannot assign requested address."},
    {10050, -1, "Network is down."},
    {10051, -1, "Network is unreachable."},
    {10052, -1, "Network dropped connection on reset."},
    {10053, -1, "Software caused connection abort."},
    {10054, -1, "Connection reset by peer."},
    {10055, -1, "No buffer space available."},
    {10056, -1, "Socket is already connected."},
    {10057, -1, "Socket is not connected."},
    {10058, -1, "Cannot send after socket shutdown."},
    {10060, kRowConnectTimeout, nullptr},
    {10061, kRowConnectionRefused, nullptr},
    {10064, -1, "Host is down."},
    {10065, -1, "No route to host."},
    {10067, -1, "Too many processes."},
    {10091, -1, "Network subsystem is unavailable."},
    {10092, -1, "Winsock.dll version out of range."},
    {10093, -1, "Successful WSAStartup not yet performed."},
    {10101, -1, "Graceful shutdown in progress."},
    {10107, -1, "System call failure."},
    {10109, -1, "Class type not found."},
    {11001, kRowHostNotFound, nullptr},
    {11002, -1, "Nonauthoritative host not found."},
    {11003, -1, "This is a nonrecoverable error."},
    {11004, -1, "Valid name, no data record of requested type."},
};

template <size_t N>
const NumberText* Find(const NumberText (&table)[N], long number) {
  for (const auto& entry : table) {
    if (entry.number == number) return &entry;
  }
  return nullptr;
}

std::string AsciiLower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return s;
}

// The run-time library's text for an error raised without a text of its
// own, in English and Simplified Chinese: it says nothing, so the engine's
// own text replaces it.
bool IsGenericText(const std::string& d) {
  return d == "Application-defined or object-defined error" || d == "Defined application or object error" ||
         d == "应用程序定义或对象定义错误" || d == "定义的应用程序或对象错误";
}

bool IsGenericLowerCase(const std::string& d) {
  const std::string lower = AsciiLower(d);
  return lower == "application-defined or object-defined error" ||
         lower.find("or object error") != std::string::npos;
}

std::unique_ptr<ErrorMessages> g_defaultMessages;
ErrorMessages* g_currentMessages = nullptr;

}  // namespace

ErrorMessages::ErrorMessages() : ErrorMessages(CSystem().GetUserLangID()) {}

ErrorMessages::ErrorMessages(int language) : m_language(language) {
  for (int row = 0; row < kMessageRows; ++row) m_english[row] = MessageTableText(kLangEnglish, row);
}

std::string ErrorMessages::Row(int row) const {
  if (row < 0 || row >= kMessageRows) return std::string();
  if (m_language <= kLangEnglish || m_language >= kMessageLanguages) return m_english[row];
  return MessageTableText(m_language, row);
}

std::string ErrorMessages::Text() const {
  std::string joined;
  for (int row = 0; row < kMessageRows; ++row) {
    if (row > 0) joined += '|';
    joined += Row(row);
  }
  return joined;
}

void ErrorMessages::SetText(const std::string& text) {
  if (text.empty()) return;
  std::vector<std::string> parts;
  size_t from = 0;
  while (true) {
    const auto bar = text.find('|', from);
    parts.push_back(text.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
    if (bar == std::string::npos) break;
    from = bar + 1;
  }
  if (parts.size() != static_cast<size_t>(kMessageRows)) {
    CurrentFrontEnd().MessageBox("Invalid value for 'Text' Property", std::string(), kMbOkOnly);
    return;
  }
  for (int row = 0; row < kMessageRows; ++row) m_english[row] = parts[static_cast<size_t>(row)];
  m_language = kLangEnglish;
}

std::string ErrorMessages::GetErrorMessage(long number) const {
  const auto text = [this](const NumberText* e) { return e->row >= 0 ? Row(e->row) : std::string(e->text); };
  const NumberText* found = nullptr;
  if (number >= 20001 && number <= 20050) {
    for (const LanguageTexts& e : kLaterEngineErrors) {
      if (e.number == number) return e.texts[m_language > 0 && m_language < kMessageLanguages ? m_language : 0];
    }
    found = Find(kEngineErrors, number);
  }
  if (!found && number >= 16120) found = Find(kReplyTexts, number);
  if (!found && number >= 16001 && number <= 16012) found = Find(kSessionErrors, number);
  if (!found) found = Find(kWinsockTexts, number);
  if (found) return text(found);
  const std::string& handled = CurrentError().description;
  return handled.empty() ? Row(kRowUnknownError) : handled;
}

std::string ErrorMessages::RaiseError(const std::string& source, long number, std::string description,
                                      bool showError) {
  if (!SharedErrorRecordExists()) {
    SharedErrorRecord().SetLogFilePath(m_logFilePath.empty() ? EngineLogPath() : m_logFilePath);
  }
  CError& record = SharedErrorRecord();
  const std::string trimmedSource = TrimBlanks(source);
  if (!trimmedSource.empty()) record.SetSource(trimmedSource);

  if (number == 0) {
    number = record.GetErrorNumber();
    if (number == 0) {
      record.WriteFile(trimmedSource + ":ErrorNumber=0" + description);
      return std::string();
    }
  }
  record.SetNumber(number);

  if (IsGenericText(description)) {
    record.WriteFile("RaiseError:" + description);
    description = GetErrorMessage(number);
  }
  if (IsGenericLowerCase(description)) {
    record.WriteFile("RaiseError:" + description);
    description = GetErrorMessage(number);
  }
  if (TrimBlanks(description).empty()) description = GetErrorMessage(number);

  record.SetDescription(description);
  record.SetShowError(showError);
  record.DealError(std::string(), false);
  return std::string();
}

std::string ErrorMessages::Fill(const std::string& text, std::initializer_list<std::string_view> args) {
  // One pass from left to right, so a filled-in text (a path holding "{1}")
  // is never filled again.
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{' && i + 2 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9' && text[i + 2] == '}') {
      const size_t index = static_cast<size_t>(text[i + 1] - '0');
      if (index < args.size()) {
        out += *(args.begin() + index);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

ErrorMessages& CurrentErrorMessages() {
  if (g_currentMessages) return *g_currentMessages;
  if (!g_defaultMessages) g_defaultMessages = std::make_unique<ErrorMessages>();
  return *g_defaultMessages;
}

void SetCurrentErrorMessages(ErrorMessages* messages) { g_currentMessages = messages; }

}  // namespace pellan
