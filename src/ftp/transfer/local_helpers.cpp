// The local side of a transfer (sizes, existence, names, dates),
// the dialogs offered to a host, and the transfer list.
#include <sys/stat.h>

#include <cmath>
#include <cstdio>

#include "ftp/session/reply_parser.h"
#include "ftp/transfer/ftp_transfers.h"
#include "platform/code_page.h"
#include "platform/date_text.h"
#include "platform/front_end.h"
#include "support/file.h"
#include "support/text.h"

namespace pellan {

double FtpTransfers::GetLocalFileSize(const std::string& filePath) const {
  if (!LocalFileExists(filePath)) return -1;
  struct stat st {};
  if (stat(EncodeText(filePath, ProcessCodePage()).c_str(), &st) != 0) return -1;
  return static_cast<double>(st.st_size);
}

bool FtpTransfers::LocalFileExists(const std::string& filePath) const { return CFile().FileExists(filePath); }

bool FtpTransfers::LocalFolderExists(const std::string& folderPath) const { return CFile().FolderExists(folderPath); }

std::string FtpTransfers::GetFileName(const std::string& path) const {
  std::string p = TrimBlanks(path);
  if (p.empty()) return std::string();
  p = CFile().FormatPath(p);
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto slash = p.find_last_of('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string FtpTransfers::GetFileExtendName(const std::string& path) const {
  const std::string p = TrimBlanks(path);
  const auto dot = p.find_last_of('.');
  return dot == std::string::npos ? std::string() : p.substr(dot + 1);
}

std::string FtpTransfers::GetParentFolderPath(const std::string& path) const { return CFile().GetParentFolderPath(path); }

std::string FtpTransfers::FormatFileSize(double size) const {
  char buf[64];
  if (size < 1024) {
    std::snprintf(buf, sizeof buf, "%.0f Bytes", size);
    return buf;
  }
  const bool kb = size < 1048576;
  const double value = std::round(size / (kb ? 1024.0 : 1048576.0) * 100.0) / 100.0;
  // "###.##": no trailing zeros, no point when there are no decimals.
  std::snprintf(buf, sizeof buf, "%.2f", value);
  std::string text = buf;
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text + (kb ? " KB" : " M");
}

std::string FtpTransfers::GetLocalFileDate(const std::string& filePath) const {
  if (!LocalFileExists(filePath)) return std::string();
  struct stat st {};
  if (stat(EncodeText(filePath, ProcessCodePage()).c_str(), &st) != 0) return std::string();
  return DateTimeText(st.st_mtime);
}

std::string FtpTransfers::ShowBrowserDialog() const {
  std::string folder = CurrentFrontEnd().BrowseFolder("浏览文件夹");
  if (folder.empty()) return folder;
  folder += "/";
  return CFile().FormatPath(folder);
}

std::string FtpTransfers::ShowSaveFileDialog(const std::string& filter) const {
  std::string defaultName, pattern = filter;
  const auto bar = filter.find('|');
  if (bar != std::string::npos) {
    defaultName = filter.substr(0, bar);
    pattern = filter.substr(bar + 1);
  }
  return CurrentFrontEnd().SaveFileDialog("Save File", defaultName, pattern.empty() ? "*.*" : pattern);
}

std::string FtpTransfers::ShowOpenFileDialog(const std::string& filter, bool multiSelect) const {
  return CurrentFrontEnd().OpenFileDialog("Open File", filter.empty() ? "*.*" : filter, multiSelect);
}

// --------------------------------------------------------------- transfer list

namespace {

// "|a||b|" reads as "a|b".
std::string NormaliseList(std::string list) {
  for (size_t pos; (pos = list.find("||")) != std::string::npos;) list.erase(pos, 1);
  if (!list.empty() && list.front() == '|') list.erase(0, 1);
  if (!list.empty() && list.back() == '|') list.pop_back();
  return list;
}

}  // namespace

void FtpTransfers::ChangeTransferList(const std::string& filePath, bool cancel) {
  if (cancel) {
    m_canceledFileList += "|" + filePath;
    return;
  }
  m_canceledFileList += "|";
  const std::string needle = "|" + filePath + "|";
  std::string out;
  size_t start = 0;
  for (size_t pos; (pos = m_canceledFileList.find(needle, start)) != std::string::npos;) {
    out += m_canceledFileList.substr(start, pos - start) + "|";
    start = pos + needle.size();
  }
  out += m_canceledFileList.substr(start);
  m_canceledFileList = out;
}

std::string FtpTransfers::CanceledFileList() const { return NormaliseList(m_canceledFileList); }

std::string FtpTransfers::AbortedFileList() const { return NormaliseList(m_abortedFileList); }

}  // namespace pellan
