// What the replies of a download and an upload do (rows of the dispatch
// table).
#include "ftp/ftp_library.h"
#include "ftp/transfer/transfer_run.h"
#include "platform/date_text.h"
#include "support/error_record.h"

namespace pellan {

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
