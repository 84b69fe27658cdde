// Whatever text reaches the control as an enciphered site value, deciphering
// it never fails; and any 7-bit text without NUL and without spaces at its
// ends comes back unchanged from a round trip.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/encrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const pellan::CEncrypt cipher;
  (void)cipher.DecryptSiteInfo(bytes, "base64");
  (void)cipher.Base64Encrypt(bytes);

  std::string plain;
  for (unsigned char c : bytes) plain += static_cast<char>(1 + c % 127);
  const auto first = plain.find_first_not_of(' ');
  plain = first == std::string::npos ? std::string() : plain.substr(first, plain.find_last_not_of(' ') - first + 1);
  if (cipher.DecryptSiteInfo(cipher.EncryptSiteInfo(plain, "base64"), "base64") != plain) std::abort();
  return 0;
}
