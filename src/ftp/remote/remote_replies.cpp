// What the replies of the command operations and of a listing do: the
// remote layer's reply table and its actions.
#include <cctype>
#include <cstdint>

#include "ftp/remote/ftp_remote.h"
#include "ftp/remote/command_run.h"
#include "ftp/session/reply_parser.h"
#include "support/text.h"

namespace pellan {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

// clang-format off
const ReplyRow<FtpRemote> FtpRemote::kReplies[] = {
    // PWD
    {kOpPwd,     kAnyCommand, 226,        &FtpRemote::ActIgnore},
    {kOpPwd,     kAnyCommand, 257,        &FtpRemote::ActPwd},
    {kOpPwd,     kAnyCommand, kOtherCode, &FtpRemote::ActFail},
    // CWD and RMD
    {kOpCwd,     kAnyCommand, 226,        &FtpRemote::ActIgnore},
    {kOpCwd,     kAnyCommand, 250,        &FtpRemote::ActEnd},
    {kOpCwd,     kAnyCommand, 257,        &FtpRemote::ActIgnore},
    {kOpCwd,     kAnyCommand, kOtherCode, &FtpRemote::ActFail},
    {kOpRmd,     kAnyCommand, 226,        &FtpRemote::ActIgnore},
    {kOpRmd,     kAnyCommand, 250,        &FtpRemote::ActEnd},
    {kOpRmd,     kAnyCommand, 257,        &FtpRemote::ActIgnore},
    {kOpRmd,     kAnyCommand, kOtherCode, &FtpRemote::ActFail},
    // MKD
    {kOpMkd,     kAnyCommand, 226,        &FtpRemote::ActEnd},
    {kOpMkd,     kAnyCommand, 257,        &FtpRemote::ActEnd},
    {kOpMkd,     kAnyCommand, 550,        &FtpRemote::ActMkdRefused},
    {kOpMkd,     kAnyCommand, kOtherCode, &FtpRemote::ActFail},
    // rename
    {kOpRename,  "RNFR",      226,        &FtpRemote::ActIgnore},
    {kOpRename,  "RNFR",      257,        &FtpRemote::ActIgnore},
    {kOpRename,  "RNFR",      350,        &FtpRemote::ActSendRnto},
    {kOpRename,  "RNFR",      kOtherCode, &FtpRemote::ActFail},
    {kOpRename,  "RNTO",      250,        &FtpRemote::ActEnd},
    {kOpRename,  "RNTO",      kOtherCode, &FtpRemote::ActFail},
    // DELE
    {kOpDele,    kAnyCommand, 226,        &FtpRemote::ActIgnore},
    {kOpDele,    kAnyCommand, 250,        &FtpRemote::ActEnd},
    {kOpDele,    kAnyCommand, 257,        &FtpRemote::ActIgnore},
    {kOpDele,    kAnyCommand, kOtherCode, &FtpRemote::ActDeleRefused},
    // SIZE (after TYPE I)
    {kOpSize,    kAnyCommand, 150,        &FtpRemote::ActSendSize},
    {kOpSize,    kAnyCommand, 200,        &FtpRemote::ActSendSize},
    {kOpSize,    kAnyCommand, 213,        &FtpRemote::ActSizeKnown},
    {kOpSize,    kAnyCommand, 226,        &FtpRemote::ActIgnore},
    {kOpSize,    kAnyCommand, 257,        &FtpRemote::ActIgnore},
    {kOpSize,    kAnyCommand, 500,        &FtpRemote::ActSizeRefused500},
    {kOpSize,    kAnyCommand, 550,        &FtpRemote::ActSizeMissing},
    {kOpSize,    kAnyCommand, kOtherCode, &FtpRemote::ActSizeFailed},
    // listing
    {kOpList,    "TYPE", 200,        &FtpRemote::ActSendDataSetup},
    {kOpList,    "TYPE", 150,        &FtpRemote::ActListTypeAgain},
    {kOpList,    "TYPE", 226,        &FtpRemote::ActIgnore},
    {kOpList,    "TYPE", 257,        &FtpRemote::ActIgnore},
    {kOpList,    "TYPE", 425,        &FtpRemote::ActListType425},
    {kOpList,    "TYPE", 550,        &FtpRemote::ActListType550},
    {kOpList,    "TYPE", kOtherCode, &FtpRemote::ActFail},
    {kOpList,    "PORT", 200,        &FtpRemote::ActListPortOk},
    {kOpList,    "PORT", 257,        &FtpRemote::ActIgnore},
    {kOpList,    "PORT", kOtherCode, &FtpRemote::ActFail},
    {kOpList,    "PASV", 200,        &FtpRemote::ActIgnore},
    {kOpList,    "PASV", 227,        &FtpRemote::ActPasv},
    {kOpList,    "EPSV", 229,        &FtpRemote::ActEpsv},
    {kOpList,    "EPSV", 257,        &FtpRemote::ActIgnore},
    {kOpList,    "EPSV", kOtherCode, &FtpRemote::ActEpsvRefused},
    {kOpList,    "EPRT", 200,        &FtpRemote::ActListPortOk},
    {kOpList,    "EPRT", 257,        &FtpRemote::ActIgnore},
    {kOpList,    "EPRT", kOtherCode, &FtpRemote::ActFail},
    {kOpList,    "PASV", 257,        &FtpRemote::ActIgnore},
    {kOpList,    "PASV", kOtherCode, &FtpRemote::ActFail},
    {kOpList,    "LIST", 125,        &FtpRemote::ActIgnore},
    {kOpList,    "LIST", 150,        &FtpRemote::ActIgnore},
    {kOpList,    "LIST", 226,        &FtpRemote::ActListDone},
    {kOpList,    "LIST", 250,        &FtpRemote::ActListDone},
    {kOpList,    "LIST", 257,        &FtpRemote::ActIgnore},
    {kOpList,    "LIST", 550,        &FtpRemote::ActList550},
    {kOpList,    "LIST", kOtherCode, &FtpRemote::ActListFailed},
};
// clang-format on

bool FtpRemote::DispatchReply(int code) {
  return RunReplyTable(*this, kReplies, m_lngOperation, m_strLastCommand, code) || FtpSession::DispatchReply(code);
}

std::string FtpRemote::NextArgument() const { return m_command != nullptr ? m_command->nextArgument : std::string(); }

void FtpRemote::SetAnsweredSize(double size) {
  if (m_command != nullptr) m_command->size = size;
}

bool FtpRemote::UnansweredFails() const {
  switch (m_lngOperation) {
    case kOpPwd:
    case kOpCwd:
    case kOpMkd:
    case kOpRmd:
    case kOpRename:
    case kOpDele:
    case kOpSize:
    case kOpList:
      return true;
    default:
      return false;
  }
}

void FtpRemote::ActPwd(int) {
  if (GetDirFromResponse()) {
    EndOperation();
  } else {
    Raise(kErrNoDirectoryInReply);
  }
}

void FtpRemote::ActMkdRefused(int code) {
  const std::string text = Lower(m_strReplyBuffer);
  if (text.find("file already exists") != std::string::npos || text.find("failed to create") != std::string::npos) {
    EndOperation();
  } else {
    FailReply(code);
  }
}

void FtpRemote::ActSendRnto(int) { SendFtpCommand("RNTO", NextArgument()); }

void FtpRemote::ActDeleRefused(int code) {
  const std::string text = Lower(m_strReplyBuffer);
  if (text.find("cannot find") != std::string::npos || text.find("successful") != std::string::npos) {
    EndOperation();
  } else {
    FailReply(code);
  }
}

void FtpRemote::ActSendSize(int) { SendFtpCommand("SIZE", NextArgument()); }

void FtpRemote::ActSizeKnown(int) {
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
    SetAnsweredSize(-2);
    ReportError("GetFileSize", kErrReplyBase + 213,
                "Unreadable file size in the server's reply: " + GetResponseInfo(m_strReplyBuffer));
    return;
  }
  SetAnsweredSize(static_cast<double>(size));
  EndOperation();
}

void FtpRemote::ActSizeRefused500(int code) {
  std::string upper = m_strReplyBuffer;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.rfind("500 'NOOPSIZE", 0) == 0) {
    SendFtpCommand("SIZE", NextArgument());
    return;
  }
  SetAnsweredSize(-2);
  FailReply(code);
}

void FtpRemote::ActSizeMissing(int) {
  SetAnsweredSize(-1);
  EndOperation();
  RaiseError("GetFileSize", kErrReplyBase + 550, GetResponseInfo(m_strReplyBuffer));
}

void FtpRemote::ActSizeFailed(int code) {
  SetAnsweredSize(-2);
  FailReply(code);
}

}  // namespace pellan
