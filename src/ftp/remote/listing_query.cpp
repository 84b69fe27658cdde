// Listing a remote path over a data connection.
#include "ftp/remote/listing_parser.h"
#include "ftp/session/reply_parser.h"
#include "ftp/remote/ftp_remote.h"
#include "ftp/remote/listing_run.h"
#include "support/error_record.h"
#include "support/scoped_value.h"
#include "support/text.h"

namespace pellan {

std::unique_ptr<CFtpFiles> FtpRemote::GetRemoteFilesInfo(const std::string& pathIn) {
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

    ListingRun run(path);
    const ScopedPointer<ListingRun> current(m_listing, &run);
    // The data socket reads into the run's buffer: never past the run.
    struct DetachSink {
      CSocket& socket;
      ~DetachSink() { socket.SetReceiveSink(nullptr); }
    } detach{m_objDataSocket};
    SetOperation(kOpList);
    if (!SendFtpCommand("TYPE", "A")) return nullptr;
    WaitForReply(kOpList);
    if (ErrorNumber() != 0) return nullptr;

    // UTF-8 is read where it arrived; another code page is decoded first.
    std::string decoded;
    std::string_view text = run.buffer.View();
    if (m_codePage != pellan::CodePage::kUtf8) {
      decoded = DecodeText(text, m_codePage);
      text = decoded;
    }
    if (IsBlankListing(text)) return nullptr;
    ListingReport report;
    report.log = [this](const std::string& line) { LogLine(line); };
    std::unique_ptr<CFtpFiles> files = GetFileListX(text, report);
    if (!files) {
      LogLine("---------------------------\r\n" + std::to_string(text.size()) + "\r\n" + std::string(text));
      Raise(kErrUnknownListType);
    }
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
    ReportError("GetRemoteFilesInfo", r.number, r.description);
    return nullptr;
  }
}

}  // namespace pellan
