// The key-string scramble through which the client hands the server name,
// user name and password to the FTP control. It keeps values from casual
// reading only; it gives no secrecy.
//
// Base64Encrypt: the bytes of the text in the process code page, in Base64
// without "=" padding; a form shorter than 15 characters gets the key string
// appended; the result is prefixed with its own 10th and 11th characters.
// Base64Decrypt undoes that, then cuts at the first NUL and drops spaces at
// both ends (so text with spaces at its ends does not round-trip). Malformed
// input is not an error: characters outside the alphabet simply count as
// missing.
#pragma once

#include <string>

namespace pellan {

class CEncrypt {
 public:
  // Compiled into both sides of the hand-over; compared case-sensitively.
  static constexpr const char* kKeyString = "NkRtWmBqZvCxFwd";

  std::string Base64Encrypt(const std::string& text) const;
  std::string Base64Decrypt(const std::string& text) const;

  // The scheme is named by the seed; only "base64" (exactly) is known. Any
  // other seed gives "" (nothing is ever handed over in the clear by
  // mistake). A failure inside shows a message box naming the operation and
  // gives "".
  std::string EncryptSiteInfo(const std::string& encryptText, const std::string& encryptSeed) const;
  std::string DecryptSiteInfo(const std::string& encryptedText, const std::string& decryptSeed) const;
};

}  // namespace pellan
