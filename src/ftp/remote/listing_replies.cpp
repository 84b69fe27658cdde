// What a listing's replies and its data connection do.
#include "ftp/remote/ftp_remote.h"
#include "ftp/remote/command_run.h"
#include "ftp/remote/listing_run.h"
#include "ftp/session/reply_parser.h"
#include "platform/clock.h"
#include "support/error_record.h"

namespace pellan {

void FtpRemote::ActListTypeAgain(int) { SendFtpCommand("TYPE", "A"); }

void FtpRemote::ActListType425(int) {
  LogLine("EnumFiles can't open data connection--" + RemotePath());
  SendFtpCommand("TYPE", "A");
}

void FtpRemote::ActListType550(int) {
  EndOperation();
  RaiseError("EnumFiles", kErrReplyBase + 550, GetResponseInfo(m_strReplyBuffer));
}

void FtpRemote::ActListPortOk(int) {
  if (m_listing != nullptr) SendFtpCommand("LIST", m_listing->argument);
}

void FtpRemote::ActListDone(int) {
  if (m_listing != nullptr) m_listing->replyDone = true;
  FinishListingWhenComplete();
}

void FtpRemote::ActList550(int) {
  EndOperation();
  CloseDataConnection();
  RaiseError("ListCommand", kErrReplyBase + 550, GetResponseInfo(m_strReplyBuffer));
}

void FtpRemote::ActListFailed(int code) {
  CloseDataConnection();
  FailReply(code);
}

void FtpRemote::FinishListingWhenComplete() {
  // Both the server's final reply and the end of the data are needed: either
  // can come first, and ending on the reply alone could cut the listing.
  if (m_lngOperation == kOpList && m_listing != nullptr && m_listing->Complete()) EndOperation();
}

// ------------------------------------------------------ the data connection

void FtpRemote::CommandSent(const std::string& verb) {
  if (verb == "LIST" && m_listing != nullptr) m_listing->MoveTo(ListingRun::Step::kListSent);
  if (m_command != nullptr) m_command->Sent(verb);
}

void FtpRemote::DataSetupStarting() {
  if (m_listing != nullptr) m_listing->MoveTo(ListingRun::Step::kOpeningData);
}

void FtpRemote::ListingDataOpened() {
  // Only this connection's data and end count: a connection left earlier
  // (closed, or abandoned on a time-out) may still deliver bytes or report
  // its end during this listing.
  m_listing->buffer.Clear();
  m_listing->dataClosed = false;
  m_objDataSocket.SetReceiveSink(&m_listing->buffer);
}

void FtpRemote::DataConnected() {
  if (m_lngOperation != kOpList || m_listing == nullptr) return;
  ListingDataOpened();
  SendFtpCommand("LIST", m_listing->argument);
}

void FtpRemote::DataAccepted() {
  if (m_lngOperation == kOpList && m_listing != nullptr) ListingDataOpened();
}

void FtpRemote::DataArrived() {
  if (m_lngOperation != kOpList || m_listing == nullptr) return;
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
}

void FtpRemote::DataClosed() {
  if (m_lngOperation != kOpList || m_listing == nullptr) return;
  m_listing->dataClosed = true;
  FinishListingWhenComplete();
}

void FtpRemote::DataFailed() {
  if (m_lngOperation == kOpList && m_listing != nullptr) m_listing->buffer.Release();
}

void FtpRemote::CutOperation() {
  if (m_lngOperation != kOpList) return;
  if (m_listing != nullptr) m_listing->buffer.Release();
  CloseDataConnection();
}

}  // namespace pellan
