// What the replies of a download and an upload and their data connection
// do: the transfer layer's reply table and its actions.
#include "ftp/transfer/ftp_transfers.h"
#include "ftp/transfer/transfer_run.h"
#include "platform/date_text.h"
#include "support/error_record.h"

namespace pellan {

// clang-format off
const ReplyRow<FtpTransfers> FtpTransfers::kReplies[] = {
    // download
    {kOpDownload, "TYPE", 200,        &FtpTransfers::ActSendDataSetup},
    {kOpDownload, "TYPE", 226,        &FtpTransfers::ActIgnore},
    {kOpDownload, "TYPE", 257,        &FtpTransfers::ActIgnore},
    {kOpDownload, "TYPE", kOtherCode, &FtpTransfers::ActFail},
    {kOpDownload, "PORT", 200,        &FtpTransfers::ActDownloadPortOk},
    {kOpDownload, "PORT", 257,        &FtpTransfers::ActIgnore},
    {kOpDownload, "PORT", kOtherCode, &FtpTransfers::ActPortRefused},
    {kOpDownload, "PASV", 227,        &FtpTransfers::ActPasv},
    {kOpDownload, "EPSV", 229,        &FtpTransfers::ActEpsv},
    {kOpDownload, "EPSV", 257,        &FtpTransfers::ActIgnore},
    {kOpDownload, "EPSV", kOtherCode, &FtpTransfers::ActEpsvRefused},
    {kOpDownload, "EPRT", 200,        &FtpTransfers::ActDownloadPortOk},
    {kOpDownload, "EPRT", 257,        &FtpTransfers::ActIgnore},
    {kOpDownload, "EPRT", kOtherCode, &FtpTransfers::ActPortRefused},
    {kOpDownload, "PASV", 257,        &FtpTransfers::ActIgnore},
    {kOpDownload, "PASV", kOtherCode, &FtpTransfers::ActFail},
    {kOpDownload, "REST", 350,        &FtpTransfers::ActSendRetr},
    {kOpDownload, "REST", 257,        &FtpTransfers::ActIgnore},
    {kOpDownload, "REST", kOtherCode, &FtpTransfers::ActFail},
    {kOpDownload, "RETR", 110,        &FtpTransfers::ActIgnore},
    {kOpDownload, "RETR", 125,        &FtpTransfers::ActIgnore},
    {kOpDownload, "RETR", 150,        &FtpTransfers::ActIgnore},
    {kOpDownload, "RETR", 257,        &FtpTransfers::ActIgnore},
    {kOpDownload, "RETR", 226,        &FtpTransfers::ActRetrDone},
    {kOpDownload, "RETR", 250,        &FtpTransfers::ActRetrDone},
    {kOpDownload, "RETR", kOtherCode, &FtpTransfers::ActRetrFailed},
    // upload
    {kOpUpload,   "TYPE", 200,        &FtpTransfers::ActUploadType},
    {kOpUpload,   "TYPE", 150,        &FtpTransfers::ActIgnore},
    {kOpUpload,   "TYPE", 226,        &FtpTransfers::ActIgnore},
    {kOpUpload,   "TYPE", 227,        &FtpTransfers::ActIgnore},
    {kOpUpload,   "TYPE", 257,        &FtpTransfers::ActIgnore},
    {kOpUpload,   "TYPE", 425,        &FtpTransfers::ActUploadType425},
    {kOpUpload,   "TYPE", 550,        &FtpTransfers::ActUploadType550},
    {kOpUpload,   "TYPE", kOtherCode, &FtpTransfers::ActFail},
    {kOpUpload,   "PORT", 200,        &FtpTransfers::ActSendStor},
    {kOpUpload,   "PORT", 257,        &FtpTransfers::ActIgnore},
    {kOpUpload,   "PORT", kOtherCode, &FtpTransfers::ActPortRefused},
    {kOpUpload,   "PASV", 200,        &FtpTransfers::ActPasvAgain},
    {kOpUpload,   "PASV", 227,        &FtpTransfers::ActPasv},
    {kOpUpload,   "EPSV", 229,        &FtpTransfers::ActEpsv},
    {kOpUpload,   "EPSV", 257,        &FtpTransfers::ActIgnore},
    {kOpUpload,   "EPSV", kOtherCode, &FtpTransfers::ActEpsvRefused},
    {kOpUpload,   "EPRT", 200,        &FtpTransfers::ActSendStor},
    {kOpUpload,   "EPRT", 257,        &FtpTransfers::ActIgnore},
    {kOpUpload,   "EPRT", kOtherCode, &FtpTransfers::ActPortRefused},
    {kOpUpload,   "PASV", 257,        &FtpTransfers::ActIgnore},
    {kOpUpload,   "PASV", kOtherCode, &FtpTransfers::ActFail},
    {kOpUpload,   "REST", 350,        &FtpTransfers::ActSendStor},
    {kOpUpload,   "REST", 257,        &FtpTransfers::ActIgnore},
    {kOpUpload,   "REST", kOtherCode, &FtpTransfers::ActFail},
    {kOpUpload,   "STOR", 226,        &FtpTransfers::ActStorDone},
    {kOpUpload,   "STOR", 250,        &FtpTransfers::ActStorDone},
    {kOpUpload,   "STOR", 110,        &FtpTransfers::ActStorAccepted},
    {kOpUpload,   "STOR", 125,        &FtpTransfers::ActStorAccepted},
    {kOpUpload,   "STOR", 150,        &FtpTransfers::ActStorAccepted},
    {kOpUpload,   "STOR", 200,        &FtpTransfers::ActIgnore},
    {kOpUpload,   "STOR", 257,        &FtpTransfers::ActIgnore},
    {kOpUpload,   "STOR", kOtherCode, &FtpTransfers::ActStorFailed},
};
// clang-format on

bool FtpTransfers::DispatchReply(int code) {
  return RunReplyTable(*this, kReplies, m_lngOperation, m_strLastCommand, code) || FtpRemote::DispatchReply(code);
}

void FtpTransfers::ActDownloadPortOk(int) {
  if (OpenLocalFile() && m_strLastCommand != "REST") SendFtpCommand("RETR", m_remotePath);
}

void FtpTransfers::ActPortRefused(int code) {
  CloseDataConnection();
  FailReply(code);
}

void FtpTransfers::ActSendRetr(int) { SendFtpCommand("RETR", m_remotePath); }

void FtpTransfers::ActRetrDone(int) {
  if (m_transfer != nullptr) m_transfer->replyDone = true;
  FinishDownloadWhenComplete();
}

void FtpTransfers::ActRetrFailed(int code) {
  CloseDataConnection();
  CloseLocalFile();
  FailReply(code);
}

void FtpTransfers::ActUploadType(int) {
  if (OpenLocalFile()) SendDataConnectionSetup();
}

void FtpTransfers::ActUploadType425(int) {
  LogLine("UpLoadOne can't open data connection--" + RemotePath() + "--" + LocalPath());
  // Again in the transfer's own type: switching a binary upload to ASCII
  // would let the server rewrite its line ends.
  SendFtpCommand("TYPE", m_transferMode == 0 ? "A" : "I");
}

void FtpTransfers::ActUploadType550(int) {
  LogLine(NowText() + "UpLoadOne Type 550--" + m_strReplyBuffer + "--");
}

void FtpTransfers::ActPasvAgain(int) { SendFtpCommand("PASV", ""); }

void FtpTransfers::ActSendStor(int) {
  SendFtpCommand("STOR", m_transfer != nullptr ? m_transfer->storPath : m_remotePath);
}

void FtpTransfers::ActStorAccepted(int) {
  if (m_transfer != nullptr) m_transfer->storAccepted = true;
  m_storAccepted = true;
  StartUploadWhenReady();
}

void FtpTransfers::ActStorDone(int) {
  // Confirmed only when every byte of the file went out first.
  const bool confirmed = m_transfer != nullptr && m_transfer->bytesDone >= m_fileSize && m_transfer->localFile < 0;
  if (m_transfer != nullptr) m_transfer->confirmed = confirmed;
  EndOperation();
  CloseLocalFile();
  if (!confirmed) {
    RaiseError("UpLoadOne", kErrIncompleteTransfer, "The server ended the upload before the whole file was sent");
  }
}

void FtpTransfers::ActStorFailed(int code) {
  m_storUnanswered = false;
  CloseLocalFile();
  FailReply(code);
}

// ------------------------------------------------------ the data connection

void FtpTransfers::CommandSent(const std::string& verb) {
  if (verb == "STOR") m_storUnanswered = true;
  if ((verb == "RETR" || verb == "STOR") && m_transfer != nullptr) m_transfer->MoveTo(TransferRun::Step::kCommandSent);
  FtpRemote::CommandSent(verb);
}

void FtpTransfers::DataSetupStarting() {
  if (m_transfer != nullptr) m_transfer->MoveTo(TransferRun::Step::kOpeningData);
  FtpRemote::DataSetupStarting();
}

void FtpTransfers::DataConnected() {
  switch (m_lngOperation) {
    case kOpDownload:
      if (m_transfer != nullptr) m_objDataSocket.SetReceiveSink(&m_transfer->received);
      if (OpenLocalFile() && m_strLastCommand != "REST") SendFtpCommand("RETR", m_remotePath);
      break;
    case kOpUpload:
      // Uploads always start at byte 0.
      if (m_transfer != nullptr) m_transfer->dataReady = true;
      SendFtpCommand("STOR", m_transfer != nullptr ? m_transfer->storPath : m_remotePath);
      break;
    default:
      FtpRemote::DataConnected();
      break;
  }
}

void FtpTransfers::DataAccepted() {
  if (m_lngOperation == kOpDownload && m_transfer != nullptr) m_objDataSocket.SetReceiveSink(&m_transfer->received);
  if (m_lngOperation == kOpUpload) {
    if (m_transfer != nullptr) m_transfer->dataReady = true;
    StartUploadWhenReady();
  }
  FtpRemote::DataAccepted();
}

void FtpTransfers::DataArrived() {
  if (m_lngOperation == kOpDownload) {
    WriteDownloadedData();
  } else {
    FtpRemote::DataArrived();
  }
}

void FtpTransfers::DataClosed() {
  if (m_lngOperation == kOpDownload && m_transfer != nullptr) {
    m_transfer->dataClosed = true;
    FinishDownloadWhenComplete();
  } else {
    FtpRemote::DataClosed();
  }
}

void FtpTransfers::AbortRequested(bool busy, bool currentFileOnly) {
  m_retryCount = m_reDoTimes;  // no retry after an abort
  if (m_stop == nullptr) return;
  m_stop->retries = true;
  m_stop->job = m_stop->job || busy;
  m_stop->fileOnly = m_stop->fileOnly || currentFileOnly;
}

void FtpTransfers::StopJobIfAsked() {
  if (m_stop != nullptr && m_stop->job) Raise(kErrCanceled, m_messages.GetErrorMessage(kErrCanceled));
}

void FtpTransfers::CutOperation() {
  switch (m_lngOperation) {
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
    default:
      FtpRemote::CutOperation();
      break;
  }
}

}  // namespace pellan
