// FtpLibrary: listing a remote path over a data connection.
#include "ftp/remote/listing_parser.h"
#include "ftp/session/reply_parser.h"
#include "ftp/ftp_library.h"
#include "ftp/transfer/job_lists.h"
#include "support/error_record.h"
#include "support/text.h"

namespace pellan {

std::unique_ptr<CFtpFiles> FtpLibrary::GetRemoteFilesInfo(const std::string& pathIn) {
  SharedErrorRecord().Clear();
  try {
    if (!Connect()) return nullptr;
    if (m_lngOperation != kOpNone) Raise(kErrOperationUnfinished);
    std::string path = TrimBlanks(pathIn);
    if (!path.empty() && path.back() == '/') path.pop_back();

    // Servers disagree on patterns in LIST (refused, filtered, or answered
    // with paths for names): list the folder and apply the pattern here.
    std::string pattern;
    const std::string last = LastPathPart(path);
    if (last.find_first_of("*?") != std::string::npos) {
      pattern = last;
      path.resize(path.size() - last.size());
      if (path.size() > 1 && path.back() == '/') path.pop_back();
    }

    m_listingArgument = path;
    m_listingBuffer.Clear();
    m_listingDataClosed = false;
    m_listingReplyDone = false;
    SetOperation(kOpList);
    if (!SendFtpCommand("TYPE", "A")) {
      m_listingArgument.clear();
      return nullptr;
    }
    WaitForReply(kOpList);
    m_listingArgument.clear();
    if (ErrorNumber() != 0) {
      m_listingBuffer.Release();
      return nullptr;
    }

    // UTF-8 is read where it arrived; another code page is decoded first.
    std::string decoded;
    std::string_view text = m_listingBuffer.View();
    if (m_codePage != pellan::CodePage::kUtf8) {
      decoded = DecodeText(text, m_codePage);
      text = decoded;
    }
    if (IsBlankListing(text)) {
      m_listingBuffer.Release();
      return nullptr;
    }
    ListingReport report;
    report.log = [this](const std::string& line) { LogLine(line); };
    std::unique_ptr<CFtpFiles> files = GetFileListX(text, report);
    if (!files) {
      LogLine("---------------------------\r\n" + std::to_string(text.size()) + "\r\n" + std::string(text));
      Raise(kErrUnknownListType);
    }
    m_listingBuffer.Release();
    if (!pattern.empty()) {
      auto matching = std::make_unique<CFtpFiles>();
      for (const CFtpFile& f : *files) {
        if (MatchesPattern(LastPathPart(f.FileName()), pattern)) matching->Add(f, f.FileName());
      }
      if (matching->Count() == 0) return nullptr;
      files = std::move(matching);
    }
    return files;
  } catch (const Raised& r) {
    m_listingArgument.clear();
    m_listingBuffer.Release();
    ReportError("GetRemoteFilesInfo", r.number, r.description);
    return nullptr;
  }
}

}  // namespace pellan
