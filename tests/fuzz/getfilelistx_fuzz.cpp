// Whatever a server sends as a listing, the parser ends quickly, keeps its
// records consistent and never lets a line end or an empty, "." or ".." name
// into a record.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ftp/remote/listing_parser.h"
#include "platform/code_page.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void Parse(std::string_view text) {
  bool abandoned = false;
  pellan::ListingReport report;
  report.log = [&](const std::string& line) {
    if (line.rfind("GetFileListX.Error:", 0) == 0) abandoned = true;
  };
  const auto files = pellan::GetFileListX(text, report);
  if (!files) {
    Check(abandoned || pellan::IsBlankListing(text));
    return;
  }
  Check(!abandoned);
  size_t lines = 1;
  for (char c : text) lines += c == '\n' || c == '\r';
  Check(files->Count() <= lines);
  size_t position = 0;
  for (const pellan::CFtpFile& f : *files) {
    ++position;
    const std::string& name = f.FileName();
    Check(!name.empty() && name != "." && name != "..");
    Check(name.find_first_of("\r\n") == std::string::npos);
    Check(f.FilePath().find_first_of("\r\n") == std::string::npos);
    Check(files->Item(name) == &f && files->Item(position) == &f);
    Check(f.LastWriteTime().size() == 16 && pellan::ParseListDateText(f.LastWriteTime()));
    Check(f.FileSize() >= 0 && (!f.IsDirectory() || f.FileSize() == 0));
  }
  const size_t end = text.find_first_of("\r\n");
  const std::string_view first = text.substr(0, end);
  const size_t pos = pellan::GetDateStartPosition(first);
  Check(pos == 0 || (pos >= 3 && pos + 11 <= first.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Parse(bytes);
  // The same bytes as a GBK session hands them over.
  Parse(pellan::DecodeText(bytes, pellan::CodePage::kGbk));
  return 0;
}
