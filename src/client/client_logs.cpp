#include "client/client_logs.h"

#include "client/client_files.h"
#include "client/companion_files.h"
#include "platform/date_text.h"
#include "platform/front_end.h"

namespace pellan::client {

std::string LogTimeMark() { return "   {   " + NowText() + "   }   "; }

std::string ClientLogs::FilePath(const std::string& name) const { return CompanionFiles(m_folder).Path(name); }

void ClientLogs::AppendCapped(const std::string& name, const std::string& entry) const {
  const std::string path = FilePath(name);
  if (LocalFileSize(path) > kSizeLimit) DeleteFileIfExists(path);
  SaveTextFile(path, entry + LogTimeMark(), false);
}

void ClientLogs::WriteLog(const std::string& message) const {
  if (m_logOn) AppendCapped(kRunLogFile, message);
}

void ClientLogs::WriteMSG(const std::string& message) const {
  if (m_logOn) AppendCapped(kMessageLogFile, message);
}

void ClientLogs::WriteError(const std::string& procedure, const std::string& message, bool show) const {
  if (!m_logOn) return;
  if (show) CurrentFrontEnd().MessageBox(message, m_messageTitle, kMbOkOnly);
  const std::string prefix = TrimBlanks(procedure).empty() ? std::string() : "[" + procedure + "]";
  AppendCapped(kErrorLogFile, prefix + message);
}

bool ClientLogs::WriteConnectLog(bool success, const std::string& text) const {
  const std::string path = FilePath(success ? kSuccFile : kErrFile);
  DeleteFileIfExists(path);
  return SaveTextFile(path, text, true);
}

}  // namespace pellan::client
