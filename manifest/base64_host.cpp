#include "manifest/base64.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

namespace {

bool IsAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool DecodeBase64(const std::string& text, std::string& bytes) {
  bytes.clear();
  // Crypto++ skips foreign characters silently; the platform decoder refuses them, so the
  // rules are checked here first: alphabet and blanks, then at most the padding of one group.
  size_t symbols = 0, padding = 0;
  for (char c : text) {
    if (IsBlank(c)) continue;
    if (c == '=') {
      ++padding;
    } else if (!IsAlphabet(c) || padding > 0) {
      return false;
    } else {
      ++symbols;
    }
  }
  if (padding > 0 && (padding > 2 || (symbols + padding) % 4 != 0)) return false;
  CryptoPP::StringSource source(text, true, new CryptoPP::Base64Decoder(new CryptoPP::StringSink(bytes)));
  return true;
}
