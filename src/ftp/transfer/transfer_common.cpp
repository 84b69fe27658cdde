// What downloads and uploads share: the local file, progress,
// the type filters, the wait for a file's end, and the retry handling.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "ftp/session/reply_parser.h"
#include "ftp/transfer/ftp_transfers.h"
#include "ftp/transfer/transfer_run.h"
#include "platform/code_page.h"
#include "support/error_record.h"

namespace pellan {

namespace {

// Nearest integer, ties to the even one.
long RoundHalfEven(double v) { return static_cast<long>(std::nearbyint(v)); }

}  // namespace

bool FtpTransfers::OpenLocalFile() {
  if (m_transfer == nullptr) return false;
  CloseLocalFile();
  const std::string path = EncodeText(m_localPath, ProcessCodePage());
  if (m_lngOperation == kOpDownload) {
    // Only checked here: the file is created or cut when data comes
    // (PrepareDownloadTarget), so a refused RETR leaves it as it was. No
    // link is followed, and a FIFO or device never blocks the one thread.
    m_transfer->targetPending = false;
    m_transfer->localFile = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const int err = m_transfer->localFile < 0 ? errno : 0;
    struct stat st {};
    const bool regular = m_transfer->localFile >= 0 && fstat(m_transfer->localFile, &st) == 0 && S_ISREG(st.st_mode);
    // A resume needs the partial file it measured.
    if ((m_transfer->localFile >= 0 && !regular) || (m_transfer->localFile < 0 && (err != ENOENT || m_transfer->bytesDone > 0))) {
      CloseLocalFile();
      RaiseError("OpenLocalFile", kErrOpenLocalFile,
                 ErrorMessages::Fill(m_messages.GetErrorMessage(kErrOpenLocalFile), {m_localPath}));
      return false;
    }
    m_transfer->targetPending = true;
    if (m_transfer->bytesDone > 0) SendFtpCommand("REST", std::to_string(static_cast<long long>(m_transfer->bytesDone)));
    return true;
  }
  if (m_lngOperation == kOpUpload) {
    // Only a regular file: opening a FIFO would stop the one thread.
    m_transfer->localFile = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (m_transfer->localFile >= 0 && (fstat(m_transfer->localFile, &st) != 0 || !S_ISREG(st.st_mode))) CloseLocalFile();
    if (m_transfer->localFile < 0) {
      RaiseError("OpenLocalFile", kErrOpenLocalFile,
                 ErrorMessages::Fill(m_messages.GetErrorMessage(kErrOpenLocalFile), {m_localPath}));
      return false;
    }
    return true;
  }
  return false;
}

bool FtpTransfers::PrepareDownloadTarget() {
  // Nothing is created for a transfer that has already failed (late data).
  if (m_transfer == nullptr) return false;
  if (!m_transfer->targetPending || ErrorNumber() != 0) return m_transfer->localFile >= 0 && ErrorNumber() == 0;
  m_transfer->targetPending = false;
  const std::string path = EncodeText(m_localPath, ProcessCodePage());
  const off_t start = static_cast<off_t>(m_transfer->bytesDone);
  long number = kErrOpenLocalFile;
  struct stat st {};
  bool ok = true;
  // A file replaced whole is made afresh, not cut in place: a file truncated
  // and written again is flushed to disk at its close (the file system's
  // guard for that pattern), which halves the speed of a large download.
  if (m_transfer->localFile >= 0 && start == 0 && fstat(m_transfer->localFile, &st) == 0 && st.st_size > 0) {
    CloseLocalFile();
    ok = unlink(path.c_str()) == 0 || errno == ENOENT;
  }
  if (ok && m_transfer->localFile < 0) {
    number = kErrCreateLocalFile;
    m_transfer->localFile = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  }
  // Cut to where the data starts, so no stale tail of an old file survives.
  // A file that already ends there is left uncut: ext4 takes even a no-op
  // cut of a new, empty file for the truncate-and-rewrite pattern, and its
  // close then pushes the whole download to disk before it returns.
  ok = ok && m_transfer->localFile >= 0 && fstat(m_transfer->localFile, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= start &&
       (st.st_size == start || ftruncate(m_transfer->localFile, start) == 0) &&
       lseek(m_transfer->localFile, start, SEEK_SET) == start;
  if (!ok) {
    const int err = errno;
    CloseDataConnection();
    CloseLocalFile();
    RaiseError("OpenLocalFile", number,
               ErrorMessages::Fill(m_messages.GetErrorMessage(number), {m_localPath}) + " " + std::strerror(err));
    return false;
  }
  m_transfer->targetTouched = true;
  return true;
}

void FtpTransfers::UpdateProgress(double bytes, double size, bool download) {
  if (m_transfer == nullptr) return;
  m_transferState.clear();
  m_transferSize = bytes;
  long percent = size > 0 ? RoundHalfEven(bytes / size * 100.0) : 0;
  // 100 only for a complete file.
  if ((download ? percent >= 100 : percent == 100) && bytes != size) percent = 99;
  m_percent = percent;
  const MonoTime now = CurrentClock().Now();
  const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now - m_transfer->lastSample).count();
  if (seconds > 0) {
    if (m_transfer->sampleBytes > 0) {
      m_speed = std::max(1L, RoundHalfEven((bytes - m_transfer->sampleBytes) / static_cast<double>(seconds)));
      m_leftTime = std::max(1L, RoundHalfEven((size - bytes) / static_cast<double>(m_speed)));
    }
    m_transfer->lastSample = now;
    m_transfer->sampleBytes = bytes;
  }
  RaiseTransfer();
}

void FtpTransfers::CheckFileType(const std::string& ext) {
  const std::string dotted = "." + ext + ".";
  if (!m_fileTypeAllow.empty() && ("." + m_fileTypeAllow + ".").find(dotted) == std::string::npos) {
    Raise(kErrTypeNotAllowed, ErrorMessages::Fill(m_messages.GetErrorMessage(kErrTypeNotAllowed), {m_fileTypeAllow}));
  }
  if (!m_fileTypeForbid.empty() && ("." + m_fileTypeForbid + ".").find(dotted) != std::string::npos) {
    Raise(kErrTypeForbidden, ErrorMessages::Fill(m_messages.GetErrorMessage(kErrTypeForbidden), {m_fileTypeForbid}));
  }
}

std::string FtpTransfers::SizeLimitText() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f", m_maxSize / (1024.0 * 1024.0));
  std::string text = buf;
  if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
  return text + "M";
}

void FtpTransfers::WaitWhileTransferring(long operation) {
  // The watchdog's tick fails a transfer that stalls, so this wait needs no
  // deadline of its own.
  const auto over = [&] { return ErrorNumber() != 0 || m_lngOperation != operation; };
  const auto allSent = [&] {
    return operation == kOpUpload && m_transferSize >= m_fileSize && m_transfer != nullptr &&
           m_transfer->CurrentStep() == TransferRun::Step::kSending;
  };
  RunUntil([&] { return over() || allSent(); }, CurrentClock().Now() + std::chrono::hours(24 * 365));
  if (!over()) {
    // Everything is out: the server has 30 seconds to confirm the file.
    if (!RunUntil(over, CurrentClock().Now() + std::chrono::seconds(30))) {
      LogLine("Upload:Exit Do");
      EndOperation();
      CloseConnection();
    }
  }
  EndFailedOperation(operation);
}

bool FtpTransfers::RetryFile(const Raised& error, bool upload, const std::function<bool()>& again) {
  const char* source = upload ? "UpLoadOne" : "DownLoadOne";
  const std::string errorText = error.description.empty() ? m_messages.GetErrorMessage(error.number) : error.description;
  if (error.number == kErrCanceled || m_retryCount >= m_reDoTimes || RetriesStopped()) {
    m_retryCount = 1;
    if (!error.reported) ReportError(source, error.number, errorText);
    CloseLocalFile();
    m_speed = 0;
    m_leftTime = 0;
    return false;
  }
  if (error.number == kErrReplyBase + 530) CloseConnection();
  CloseLocalFile();
  auto retryText = [&](long seconds) {
    if (!upload && error.number == kErrRemoteFileMissing) return errorText;
    return errorText + "[" +
           ErrorMessages::Fill(m_messages.Row(41), {std::to_string(m_retryCount), std::to_string(seconds)}) + "]";
  };
  m_transferState = retryText(m_retryWait);
  RaiseServerMessage(m_transferState + "(" + std::to_string(error.number) + ")", 2);
  ReportError(source, error.number, m_transferState);
  ++m_retryCount;
  m_transferState.clear();
  EndOperation();
  for (long left = m_retryWait; left > 0 && !RetriesStopped(); --left) {
    m_transferState = retryText(left);
    SharedErrorRecord().SetDescription(m_transferState);
    RaiseServerMessage(errorText, 2);
    RaiseTransfer();
    Pause(std::chrono::seconds(1));
  }
  if (RetriesStopped()) {
    m_transferState.clear();
    RaiseError(source, kErrCanceled, m_messages.Row(7));
    return false;
  }
  m_transferState = m_messages.Row(42);
  RaiseServerMessage(m_transferState, 2);
  RaiseTransfer();
  const bool replacePrompt = m_replacePrompt, raiseErrorEvent = m_raiseErrorEvent;
  // A repeat resumes what this attempt wrote; a download that never touched
  // the old file still replaces it rather than resuming it.
  SetOverWrite(!upload && m_overWrite && !(m_transfer != nullptr && m_transfer->targetTouched));
  m_raiseErrorEvent = false;
  const bool result = again();
  m_replacePrompt = replacePrompt;
  m_raiseErrorEvent = raiseErrorEvent;
  return result;
}

void FtpTransfers::TimeouterTick() {
  try {
    if (m_lngOperation != kOpDownload && m_lngOperation != kOpUpload) return;
    if (m_transfer == nullptr || std::chrono::duration_cast<std::chrono::seconds>(CurrentClock().Now() - m_transfer->lastSample).count() <= TimeOut()) return;
    const bool upload = m_lngOperation == kOpUpload;
    if (!upload || m_transferSize < m_fileSize) {
      // A download counts only once the server confirms it, so a stalled
      // one fails even when every byte seems to be there.
      RaiseError(upload ? "Timeout_Timer:Upload" : "Timeout_Timer:Download", kErrTimedOut);
      return;
    }
    // Everything went out but the server never confirmed the file: the
    // session is not to be trusted; the upload asks the server's size of
    // the file over a new session before it counts the file as sent.
    EndOperation();
    CloseLocalFile();
    CloseConnection();
    LogLine("Timeouter_Timer:Upload:EndAsyncMethod");
  } catch (const Raised&) {
  }
}

void FtpTransfers::CloseLocalFile() {
  if (m_transfer != nullptr) m_transfer->CloseLocalFile();
}

void FtpTransfers::ReleaseOperation() {
  CloseLocalFile();
  FtpRemote::ReleaseOperation();
}

void FtpTransfers::RaiseTransfer() {
  HostEvent([this] {
    if (OnTransfer) OnTransfer();
  });
}

}  // namespace pellan
