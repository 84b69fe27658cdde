// Whatever bytes come from a server or a disk, decoding them from GBK and
// encoding the text again gives the same bytes back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/code_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string text = pellan::DecodeText(bytes, pellan::CodePage::kGbk);
  if (pellan::EncodeText(text, pellan::CodePage::kGbk) != bytes) std::abort();
  // And any bytes taken as program text encode without failing.
  (void)pellan::EncodeText(bytes, pellan::CodePage::kGbk);
  return 0;
}
