// What the replies of a listing do (rows of the dispatch table).
#include "ftp/ftp_library.h"
#include "ftp/remote/listing_run.h"
#include "ftp/session/reply_parser.h"
#include "support/error_record.h"

namespace pellan {

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

}  // namespace pellan
