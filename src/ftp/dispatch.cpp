// Where events reach the operation under way: the reply dispatch table, the
// data connection's events, the commands' marks on the operation objects,
// and Abort. The table says what a complete reply does, by the operation
// under way, the last command sent and the reply code. Rows are tried in
// order; for one operation and command, exact codes come first and a code
// of 0 ("any other") last. A command that no row names is ignored.
#include "ftp/ftp_library.h"
#include "ftp/remote/listing_run.h"
#include "ftp/transfer/transfer_run.h"
#include "support/error_record.h"

namespace pellan {

namespace {

constexpr const char* kAny = nullptr;  // any last command
constexpr int kOther = 0;              // any other code

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

void FtpLibrary::CommandSent(const std::string& verb) {
  if (verb == "STOR") m_storUnanswered = true;
  if ((verb == "RETR" || verb == "STOR") && m_transfer != nullptr) m_transfer->MoveTo(TransferRun::Step::kCommandSent);
  if (verb == "LIST" && m_listing != nullptr) m_listing->MoveTo(ListingRun::Step::kListSent);
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

// ------------------------------------------------------ data socket events

void FtpLibrary::DataSocketOnConnect() {
  try {
    switch (m_lngOperation) {
      case kOpList:
        // Only this connection's data and end count: a connection left
        // earlier (closed, or abandoned on a time-out) may still deliver
        // bytes or report its end during this listing.
        if (m_listing == nullptr) break;
        m_listing->buffer.Clear();
        m_listing->dataClosed = false;
        m_objDataSocket.SetReceiveSink(&m_listing->buffer);
        SendFtpCommand("LIST", m_listing->argument);
        break;
      case kOpDownload:
        if (m_transfer != nullptr) m_objDataSocket.SetReceiveSink(&m_transfer->received);
        if (OpenLocalFile() && m_strLastCommand != "REST") SendFtpCommand("RETR", m_remotePath);
        break;
      case kOpUpload:
        // Uploads always start at byte 0.
        if (m_transfer != nullptr) m_transfer->dataReady = true;
        SendFtpCommand("STOR", m_remotePath);
        break;
      default:
        break;
    }
  } catch (const Raised& r) {
    ReportError("OnConnect", r.number, r.description);
  }
}

void FtpLibrary::DataSocketOnDataArrival() {
  m_dtLastActivity = CurrentClock().Now();
  if (m_lngOperation == kOpList && m_listing != nullptr) {
    // The socket has read the chunk straight into the listing's buffer (its
    // receive sink), where it stays as bytes until the listing is whole: a
    // character of a multi-byte code page may be split between two chunks.
    // Anything that still came through the slot joins it.
    std::string bytes;
    if (m_objDataSocket.GetData(bytes, VarType::kByteArray)) m_listing->buffer.Append(bytes);
    if (m_listing->buffer.Size() > m_maxListingBytes) {
      m_listing->buffer.Release();
      RaiseError("EnumFiles", kErrListingTooLong);
      EndOperation();
      AbandonExchange();
    }
  } else if (m_lngOperation == kOpDownload) {
    WriteDownloadedData();
  }
}

void FtpLibrary::DataSocketOnClose() {
  try {
    if (m_lngOperation == kOpList && m_listing != nullptr) {
      m_listing->dataClosed = true;
      FinishListingWhenComplete();
    } else if (m_lngOperation == kOpDownload && m_transfer != nullptr) {
      m_transfer->dataClosed = true;
      FinishDownloadWhenComplete();
    }
  } catch (const Raised& r) {
    ReportError("ControlSocket_OnClose", r.number, r.description);
  }
}

void FtpLibrary::DataSocketOnError() {
  if (m_portProbing > 0) return;
  try {
    LogLine("m_objDataSocket_OnError" + std::to_string(m_lngOperation));
    m_objDataSocket.CloseSocket();
    if (m_lngOperation == kOpDownload || m_lngOperation == kOpUpload) CloseLocalFile();
    if (m_lngOperation == kOpList && m_listing != nullptr) m_listing->buffer.Release();
    EndOperation();
  } catch (const Raised& r) {
    ReportError("DataSocket_OnError", r.number, r.description);
  }
}

void FtpLibrary::FinishListingWhenComplete() {
  // Both the server's final reply and the end of the data are needed: either
  // can come first, and ending on the reply alone could cut the listing.
  if (m_lngOperation == kOpList && m_listing != nullptr && m_listing->Complete()) EndOperation();
}

void FtpLibrary::DataConnectionAccepted() {
  if (m_lngOperation == kOpList && m_listing != nullptr) {  // as in DataSocketOnConnect
    m_listing->buffer.Clear();
    m_listing->dataClosed = false;
    m_objDataSocket.SetReceiveSink(&m_listing->buffer);
  }
  if (m_lngOperation == kOpDownload && m_transfer != nullptr) m_objDataSocket.SetReceiveSink(&m_transfer->received);
  if (m_lngOperation == kOpUpload) {
    if (m_transfer != nullptr) m_transfer->dataReady = true;
    StartUploadWhenReady();
  }
}

// ------------------------------------------------------------------- abort

void FtpLibrary::Abort() {
  try {
    m_retryCount = m_reDoTimes;  // no retry after an abort
    m_abortRetry = true;
    if (!Busy()) return;
    m_abortAll = true;
    // Anything but a login (whose socket is closed below) leaves an exchange
    // the server may still answer.
    const bool abandoned = m_lngOperation != kOpNone && m_lngOperation != kOpConnect;
    switch (m_lngOperation) {
      case kOpConnect:
        m_objControlSocket.CloseSocket();
        break;
      case kOpDownload:
        CloseDataConnection();
        CloseLocalFile();
        break;
      case kOpUpload:
        CloseLocalFile();
        SetOperation(kOpAbort);
        SendFtpCommand("ABOR", "");
        // The server stops writing the file only when the data ends.
        CloseDataConnection();
        break;
      case kOpList:
        if (m_listing != nullptr) m_listing->buffer.Release();
        CloseDataConnection();
        break;
      default:
        break;
    }
    EndOperation();
    // The server still answers the cut exchange (426, 226, the ABOR reply,
    // the reply to a command), at a moment of its choosing; on this session
    // those late replies would be taken for the answers to the next
    // commands. The next command opens a fresh session instead.
    if (abandoned) CloseConnection();
    RaiseError("Abort", kErrCanceled, m_messages.Row(7));
  } catch (const Raised& r) {
    m_abortAll = false;
    ReportError("Abort", r.number, r.description);
  }
}

void FtpLibrary::AbortCurrent() {
  m_abortCurrent = true;
  Abort();
}

}  // namespace pellan
