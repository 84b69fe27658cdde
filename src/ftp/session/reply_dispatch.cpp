// The reply dispatch table: what a complete reply does, by the operation
// under way, the last command sent and the reply code. Rows are tried in
// order; for one operation and command, exact codes come first and a code
// of 0 ("any other") last. A command that no row names is ignored.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ftp/session/reply_parser.h"
#include "ftp/transfer/ftp_library.h"

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
  while (start <= m_strReplyBuffer.size()) {
    size_t end = m_strReplyBuffer.find("\r\n", start);
    if (end == std::string::npos) end = m_strReplyBuffer.size();
    const std::string line = m_strReplyBuffer.substr(start, end - start);
    if (line.rfind("213", 0) == 0) {
      m_remoteSize = std::strtod(line.c_str() + 3, nullptr);
      break;
    }
    start = end + 2;
  }
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

void FtpLibrary::ActListPortOk(int) { SendFtpCommand("LIST", m_listingArgument); }

void FtpLibrary::ActPasv(int) { EstablishPasvDataConnection(m_strReplyBuffer); }

void FtpLibrary::ActListDone(int) {
  m_listingReplyDone = true;
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

}  // namespace pellan
