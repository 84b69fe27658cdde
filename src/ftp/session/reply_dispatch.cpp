// What the replies of a login and of the command operations do (the rows
// of the dispatch table name these actions).
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ftp/session/reply_parser.h"
#include "ftp/ftp_library.h"
#include "support/text.h"

namespace pellan {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void FtpLibrary::ActIgnore(int) {}

void FtpLibrary::ActEnd(int) { EndOperation(); }

void FtpLibrary::ActFail(int code) { FailReply(code); }

void FtpLibrary::ActCloseAndFail(int code) {
  CloseConnection();
  FailReply(code);
}

void FtpLibrary::ActSendUser(int) { SendFtpCommand("USER", m_userName); }

void FtpLibrary::ActSendPass(int) { SendFtpCommand("PASS", m_passWord); }

void FtpLibrary::ActLoggedIn(int) {
  SetFtpState(kFtpLoggedIn, false);
  EndOperation();
}

void FtpLibrary::ActLoginPwd(int) {
  if (GetDirFromResponse()) {
    EndOperation();
    return;
  }
  RaiseError("ControlSocket_OnDataArrival", kErrNoDirectoryInReply,
             "Cannot retrieve the current directory path. Unexpected server response.");
  CloseConnection();
}

void FtpLibrary::ActPwd(int) {
  if (GetDirFromResponse()) {
    EndOperation();
  } else {
    Raise(kErrNoDirectoryInReply);
  }
}

void FtpLibrary::ActMkdRefused(int code) {
  const std::string text = Lower(m_strReplyBuffer);
  if (text.find("file already exists") != std::string::npos || text.find("failed to create") != std::string::npos) {
    EndOperation();
  } else {
    FailReply(code);
  }
}

void FtpLibrary::ActSendRnto(int) { SendFtpCommand("RNTO", m_renameTarget); }

void FtpLibrary::ActDeleRefused(int code) {
  const std::string text = Lower(m_strReplyBuffer);
  if (text.find("cannot find") != std::string::npos || text.find("successful") != std::string::npos) {
    EndOperation();
  } else {
    FailReply(code);
  }
}

void FtpLibrary::ActQuitDone(int) {
  EndOperation();
  m_objControlSocket.CloseSocket();
}

void FtpLibrary::ActSendSize(int) { SendFtpCommand("SIZE", m_sizePath); }

void FtpLibrary::ActSizeKnown(int) {
  size_t start = 0;
  std::string line;
  while (start <= m_strReplyBuffer.size()) {
    size_t end = m_strReplyBuffer.find("\r\n", start);
    if (end == std::string::npos) end = m_strReplyBuffer.size();
    if (m_strReplyBuffer.compare(start, 4, "213 ") == 0) {
      line = m_strReplyBuffer.substr(start, end - start);
      break;
    }
    start = end + 2;
  }
  // Digits only, within 64 bits: anything else ("1e400", "-5", "12abc") is
  // no size, and a size that is wrong decides whether a file is complete.
  const std::string digits = TrimBlanks(line.size() > 4 ? line.substr(4) : std::string());
  int64_t size = 0;
  bool valid = !digits.empty();
  for (char c : digits) {
    if (c < '0' || c > '9' || size > (INT64_MAX - (c - '0')) / 10) {
      valid = false;
      break;
    }
    size = size * 10 + (c - '0');
  }
  if (!valid) {
    m_remoteSize = -2;
    ReportError("GetFileSize", kErrReplyBase + 213,
                "Unreadable file size in the server's reply: " + GetResponseInfo(m_strReplyBuffer));
    return;
  }
  m_remoteSize = static_cast<double>(size);
  EndOperation();
}

void FtpLibrary::ActSizeRefused500(int code) {
  std::string upper = m_strReplyBuffer;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.rfind("500 'NOOPSIZE", 0) == 0) {
    SendFtpCommand("SIZE", m_sizePath);
    return;
  }
  m_remoteSize = -2;
  FailReply(code);
}

void FtpLibrary::ActSizeMissing(int) {
  m_remoteSize = -1;
  EndOperation();
  RaiseError("GetFileSize", kErrReplyBase + 550, GetResponseInfo(m_strReplyBuffer));
}

void FtpLibrary::ActSizeFailed(int code) {
  m_remoteSize = -2;
  FailReply(code);
}

void FtpLibrary::ActAbortDone(int) {
  CloseDataConnection();
  EndOperation();
  Raise(kErrCanceled, m_messages.GetErrorMessage(kErrCanceled));
}

}  // namespace pellan
