// The reply dispatch table: what a complete reply does, by the operation
// under way, the last command sent and the reply code. Rows are tried in
// order; for one operation and command, exact codes come first and a code
// of 0 ("any other") last. A command that no row names is ignored.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ftp/session/reply_parser.h"
#include "ftp/ftp_library.h"
#include "ftp/remote/listing_run.h"
#include "ftp/transfer/transfer_run.h"
#include "platform/date_text.h"
#include "support/text.h"

namespace pellan {

namespace {

constexpr const char* kAny = nullptr;  // any last command
constexpr int kOther = 0;              // any other code

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

struct FtpLibrary::DispatchRow {
  long operation;
  const char* lastCommand;
  int code;
  void (FtpLibrary::*action)(int code);
};

// clang-format off
const FtpLibrary::DispatchRow FtpLibrary::kDispatchTable[] = {
    // connect and log in: the greeting, USER, PASS
    {kOpConnect, "",     220,    &FtpLibrary::ActSendUser},
    {kOpConnect, "",     226,    &FtpLibrary::ActIgnore},
    {kOpConnect, "",     257,    &FtpLibrary::ActIgnore},
    {kOpConnect, "",     kOther, &FtpLibrary::ActCloseAndFail},
    {kOpConnect, "USER", 331,    &FtpLibrary::ActSendPass},
    {kOpConnect, "USER", 230,    &FtpLibrary::ActLoggedIn},
    {kOpConnect, "USER", 257,    &FtpLibrary::ActIgnore},
    {kOpConnect, "USER", kOther, &FtpLibrary::ActCloseAndFail},
    {kOpConnect, "PASS", 202,    &FtpLibrary::ActLoggedIn},
    {kOpConnect, "PASS", 230,    &FtpLibrary::ActLoggedIn},
    {kOpConnect, "PASS", 257,    &FtpLibrary::ActIgnore},
    {kOpConnect, "PASS", kOther, &FtpLibrary::ActCloseAndFail},
    {kOpConnect, "PWD",  257,    &FtpLibrary::ActLoginPwd},
    {kOpConnect, "PWD",  kOther, &FtpLibrary::ActCloseAndFail},
    // PWD
    {kOpPwd,     kAny,   226,    &FtpLibrary::ActIgnore},
    {kOpPwd,     kAny,   257,    &FtpLibrary::ActPwd},
    {kOpPwd,     kAny,   kOther, &FtpLibrary::ActFail},
    // CWD and RMD
    {kOpCwd,     kAny,   226,    &FtpLibrary::ActIgnore},
    {kOpCwd,     kAny,   250,    &FtpLibrary::ActEnd},
    {kOpCwd,     kAny,   257,    &FtpLibrary::ActIgnore},
    {kOpCwd,     kAny,   kOther, &FtpLibrary::ActFail},
    {kOpRmd,     kAny,   226,    &FtpLibrary::ActIgnore},
    {kOpRmd,     kAny,   250,    &FtpLibrary::ActEnd},
    {kOpRmd,     kAny,   257,    &FtpLibrary::ActIgnore},
    {kOpRmd,     kAny,   kOther, &FtpLibrary::ActFail},
    // MKD
    {kOpMkd,     kAny,   226,    &FtpLibrary::ActEnd},
    {kOpMkd,     kAny,   257,    &FtpLibrary::ActEnd},
    {kOpMkd,     kAny,   550,    &FtpLibrary::ActMkdRefused},
    {kOpMkd,     kAny,   kOther, &FtpLibrary::ActFail},
    // rename
    {kOpRename,  "RNFR", 226,    &FtpLibrary::ActIgnore},
    {kOpRename,  "RNFR", 257,    &FtpLibrary::ActIgnore},
    {kOpRename,  "RNFR", 350,    &FtpLibrary::ActSendRnto},
    {kOpRename,  "RNFR", kOther, &FtpLibrary::ActFail},
    {kOpRename,  "RNTO", 250,    &FtpLibrary::ActEnd},
    {kOpRename,  "RNTO", kOther, &FtpLibrary::ActFail},
    // DELE
    {kOpDele,    kAny,   226,    &FtpLibrary::ActIgnore},
    {kOpDele,    kAny,   250,    &FtpLibrary::ActEnd},
    {kOpDele,    kAny,   257,    &FtpLibrary::ActIgnore},
    {kOpDele,    kAny,   kOther, &FtpLibrary::ActDeleRefused},
    // listing
    {kOpList,    "TYPE", 200,    &FtpLibrary::ActListType},
    {kOpList,    "TYPE", 150,    &FtpLibrary::ActListTypeAgain},
    {kOpList,    "TYPE", 226,    &FtpLibrary::ActIgnore},
    {kOpList,    "TYPE", 257,    &FtpLibrary::ActIgnore},
    {kOpList,    "TYPE", 425,    &FtpLibrary::ActListType425},
    {kOpList,    "TYPE", 550,    &FtpLibrary::ActListType550},
    {kOpList,    "TYPE", kOther, &FtpLibrary::ActFail},
    {kOpList,    "PORT", 200,    &FtpLibrary::ActListPortOk},
    {kOpList,    "PORT", 257,    &FtpLibrary::ActIgnore},
    {kOpList,    "PORT", kOther, &FtpLibrary::ActFail},
    {kOpList,    "PASV", 200,    &FtpLibrary::ActIgnore},
    {kOpList,    "PASV", 227,    &FtpLibrary::ActPasv},
    {kOpList,    "PASV", 257,    &FtpLibrary::ActIgnore},
    {kOpList,    "PASV", kOther, &FtpLibrary::ActFail},
    {kOpList,    "LIST", 125,    &FtpLibrary::ActIgnore},
    {kOpList,    "LIST", 150,    &FtpLibrary::ActIgnore},
    {kOpList,    "LIST", 226,    &FtpLibrary::ActListDone},
    {kOpList,    "LIST", 250,    &FtpLibrary::ActListDone},
    {kOpList,    "LIST", 257,    &FtpLibrary::ActIgnore},
    {kOpList,    "LIST", 550,    &FtpLibrary::ActList550},
    {kOpList,    "LIST", kOther, &FtpLibrary::ActListFailed},
    // download
    {kOpDownload, "TYPE", 200,    &FtpLibrary::ActTransferType},
    {kOpDownload, "TYPE", 226,    &FtpLibrary::ActIgnore},
    {kOpDownload, "TYPE", 257,    &FtpLibrary::ActIgnore},
    {kOpDownload, "TYPE", kOther, &FtpLibrary::ActFail},
    {kOpDownload, "PORT", 200,    &FtpLibrary::ActDownloadPortOk},
    {kOpDownload, "PORT", 257,    &FtpLibrary::ActIgnore},
    {kOpDownload, "PORT", kOther, &FtpLibrary::ActPortRefused},
    {kOpDownload, "PASV", 227,    &FtpLibrary::ActPasv},
    {kOpDownload, "PASV", 257,    &FtpLibrary::ActIgnore},
    {kOpDownload, "PASV", kOther, &FtpLibrary::ActFail},
    {kOpDownload, "REST", 350,    &FtpLibrary::ActSendRetr},
    {kOpDownload, "REST", 257,    &FtpLibrary::ActIgnore},
    {kOpDownload, "REST", kOther, &FtpLibrary::ActFail},
    {kOpDownload, "RETR", 110,    &FtpLibrary::ActIgnore},
    {kOpDownload, "RETR", 125,    &FtpLibrary::ActIgnore},
    {kOpDownload, "RETR", 150,    &FtpLibrary::ActIgnore},
    {kOpDownload, "RETR", 257,    &FtpLibrary::ActIgnore},
    {kOpDownload, "RETR", 226,    &FtpLibrary::ActRetrDone},
    {kOpDownload, "RETR", 250,    &FtpLibrary::ActRetrDone},
    {kOpDownload, "RETR", kOther, &FtpLibrary::ActRetrFailed},
    // upload
    {kOpUpload,  "TYPE", 200,    &FtpLibrary::ActUploadType},
    {kOpUpload,  "TYPE", 150,    &FtpLibrary::ActIgnore},
    {kOpUpload,  "TYPE", 226,    &FtpLibrary::ActIgnore},
    {kOpUpload,  "TYPE", 227,    &FtpLibrary::ActIgnore},
    {kOpUpload,  "TYPE", 257,    &FtpLibrary::ActIgnore},
    {kOpUpload,  "TYPE", 425,    &FtpLibrary::ActUploadType425},
    {kOpUpload,  "TYPE", 550,    &FtpLibrary::ActUploadType550},
    {kOpUpload,  "TYPE", kOther, &FtpLibrary::ActFail},
    {kOpUpload,  "PORT", 200,    &FtpLibrary::ActUploadPortOk},
    {kOpUpload,  "PORT", 257,    &FtpLibrary::ActIgnore},
    {kOpUpload,  "PORT", kOther, &FtpLibrary::ActPortRefused},
    {kOpUpload,  "PASV", 200,    &FtpLibrary::ActPasvAgain},
    {kOpUpload,  "PASV", 227,    &FtpLibrary::ActPasv},
    {kOpUpload,  "PASV", 257,    &FtpLibrary::ActIgnore},
    {kOpUpload,  "PASV", kOther, &FtpLibrary::ActFail},
    {kOpUpload,  "REST", 350,    &FtpLibrary::ActSendStor},
    {kOpUpload,  "REST", 257,    &FtpLibrary::ActIgnore},
    {kOpUpload,  "REST", kOther, &FtpLibrary::ActFail},
    {kOpUpload,  "STOR", 226,    &FtpLibrary::ActStorDone},
    {kOpUpload,  "STOR", 250,    &FtpLibrary::ActStorDone},
    {kOpUpload,  "STOR", 110,    &FtpLibrary::ActStorAccepted},
    {kOpUpload,  "STOR", 125,    &FtpLibrary::ActStorAccepted},
    {kOpUpload,  "STOR", 150,    &FtpLibrary::ActStorAccepted},
    {kOpUpload,  "STOR", 200,    &FtpLibrary::ActIgnore},
    {kOpUpload,  "STOR", 257,    &FtpLibrary::ActIgnore},
    {kOpUpload,  "STOR", kOther, &FtpLibrary::ActStorFailed},
    // QUIT
    {kOpQuit,    "QUIT", 221,    &FtpLibrary::ActQuitDone},
    {kOpQuit,    "QUIT", 257,    &FtpLibrary::ActIgnore},
    {kOpQuit,    "QUIT", kOther, &FtpLibrary::ActFail},
    // SIZE (after TYPE I)
    {kOpSize,    kAny,   150,    &FtpLibrary::ActSendSize},
    {kOpSize,    kAny,   200,    &FtpLibrary::ActSendSize},
    {kOpSize,    kAny,   213,    &FtpLibrary::ActSizeKnown},
    {kOpSize,    kAny,   226,    &FtpLibrary::ActIgnore},
    {kOpSize,    kAny,   257,    &FtpLibrary::ActIgnore},
    {kOpSize,    kAny,   500,    &FtpLibrary::ActSizeRefused500},
    {kOpSize,    kAny,   550,    &FtpLibrary::ActSizeMissing},
    {kOpSize,    kAny,   kOther, &FtpLibrary::ActSizeFailed},
    // abort: whatever comes
    {kOpAbort,   kAny,   kOther, &FtpLibrary::ActAbortDone},
};
// clang-format on

void FtpLibrary::HandleReply(int code) {
  for (const DispatchRow& row : kDispatchTable) {
    if (row.operation != m_lngOperation) continue;
    if (row.lastCommand != kAny && m_strLastCommand != row.lastCommand) continue;
    if (row.code != kOther && row.code != code) continue;
    (this->*row.action)(code);
    return;
  }
}

// ---------------------------------------------------------------- the actions

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

void FtpLibrary::SendDataConnectionSetup() {
  if (m_transfer != nullptr) m_transfer->MoveTo(TransferRun::Step::kOpeningData);
  if (m_listing != nullptr) m_listing->MoveTo(ListingRun::Step::kOpeningData);
  if (m_passiveMode) {
    SendFtpCommand("PASV", "");
  } else {
    SendPORTCommand();
  }
}

void FtpLibrary::ActListType(int) { SendDataConnectionSetup(); }

void FtpLibrary::ActListTypeAgain(int) { SendFtpCommand("TYPE", "A"); }

void FtpLibrary::ActListType425(int) {
  LogLine("EnumFiles can't open data connection--" + RemotePath());
  SendFtpCommand("TYPE", "A");
}

void FtpLibrary::ActListType550(int) {
  EndOperation();
  RaiseError("EnumFiles", kErrReplyBase + 550, GetResponseInfo(m_strReplyBuffer));
}

void FtpLibrary::ActListPortOk(int) {
  if (m_listing != nullptr) SendFtpCommand("LIST", m_listing->argument);
}

void FtpLibrary::ActPasv(int) { EstablishPasvDataConnection(m_strReplyBuffer); }

void FtpLibrary::ActListDone(int) {
  if (m_listing != nullptr) m_listing->replyDone = true;
  FinishListingWhenComplete();
}

void FtpLibrary::ActList550(int) {
  EndOperation();
  CloseDataConnection();
  RaiseError("ListCommand", kErrReplyBase + 550, GetResponseInfo(m_strReplyBuffer));
}

void FtpLibrary::ActListFailed(int code) {
  CloseDataConnection();
  FailReply(code);
}

// ------------------------------------------------------------ transfers

void FtpLibrary::ActTransferType(int) { SendDataConnectionSetup(); }

void FtpLibrary::ActDownloadPortOk(int) {
  if (OpenLocalFile() && m_strLastCommand != "REST") SendFtpCommand("RETR", m_remotePath);
}

void FtpLibrary::ActPortRefused(int code) {
  CloseDataConnection();
  FailReply(code);
}

void FtpLibrary::ActSendRetr(int) { SendFtpCommand("RETR", m_remotePath); }

void FtpLibrary::ActRetrDone(int) {
  if (m_transfer != nullptr) m_transfer->replyDone = true;
  FinishDownloadWhenComplete();
}

void FtpLibrary::ActRetrFailed(int code) {
  CloseDataConnection();
  CloseLocalFile();
  FailReply(code);
}

void FtpLibrary::ActUploadType(int) {
  if (OpenLocalFile()) SendDataConnectionSetup();
}

void FtpLibrary::ActUploadType425(int) {
  LogLine("UpLoadOne can't open data connection--" + RemotePath() + "--" + LocalPath());
  // Again in the transfer's own type: switching a binary upload to ASCII
  // would let the server rewrite its line ends.
  SendFtpCommand("TYPE", m_transferMode == 0 ? "A" : "I");
}

void FtpLibrary::ActUploadType550(int) {
  LogLine(NowText() + "UpLoadOne Type 550--" + m_strReplyBuffer + "--");
}

void FtpLibrary::ActUploadPortOk(int) { SendFtpCommand("STOR", m_remotePath); }

void FtpLibrary::ActPasvAgain(int) { SendFtpCommand("PASV", ""); }

void FtpLibrary::ActSendStor(int) { SendFtpCommand("STOR", m_remotePath); }

void FtpLibrary::ActStorAccepted(int) {
  if (m_transfer != nullptr) m_transfer->storAccepted = true;
  m_storAccepted = true;
  StartUploadWhenReady();
}

void FtpLibrary::ActStorDone(int) {
  // Confirmed only when every byte of the file went out first.
  const bool confirmed = m_transfer != nullptr && m_transfer->bytesDone >= m_fileSize && m_transfer->localFile < 0;
  if (m_transfer != nullptr) m_transfer->confirmed = confirmed;
  EndOperation();
  CloseLocalFile();
  if (!confirmed) {
    RaiseError("UpLoadOne", kErrIncompleteTransfer, "The server ended the upload before the whole file was sent");
  }
}

void FtpLibrary::ActStorFailed(int code) {
  m_storUnanswered = false;
  CloseLocalFile();
  FailReply(code);
}

}  // namespace pellan
