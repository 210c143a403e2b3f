#include "manifest/base64.h"

#include <windows.h>
#include <wincrypt.h>

bool DecodeBase64(const std::string& text, std::string& bytes) {
  bytes.clear();
  if (text.empty()) return true;
  if (text.size() > 0x7FFFFFFF) return false;
  const DWORD length = static_cast<DWORD>(text.size());
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) return false;
  bytes.resize(size);
  if (size == 0) return true;
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(&bytes[0]), &size,
                            nullptr, nullptr)) {
    bytes.clear();
    return false;
  }
  bytes.resize(size);
  return true;
}
