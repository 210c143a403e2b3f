#include "manifest/signing_key.h"

#include <cryptopp/sha.h>

#include <cstring>

#include "manifest/base64.h"
#include "manifest/envelope.h"

std::string KeyFingerprint(const std::string& publicKeyBase64) {
  std::string key;
  if (!DecodeBase64(publicKeyBase64, key) || key.size() != 32) return std::string();
  unsigned char digest[CryptoPP::SHA256::DIGESTSIZE];
  CryptoPP::SHA256().CalculateDigest(digest, reinterpret_cast<const unsigned char*>(key.data()), key.size());
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < 4; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

std::string SigningKeyFingerprint() { return KeyFingerprint(SigningPublicKey()); }

bool IsDevelopmentSigningKey() {
  return std::strcmp(SigningPublicKey(), TALVOREEN_DEVELOPMENT_PUBLIC_KEY) == 0;
}

std::wstring BuildKeyLine() {
  const std::string fingerprint = SigningKeyFingerprint();
  std::wstring mark = L"key " + std::wstring(fingerprint.begin(), fingerprint.end());
  if (IsDevelopmentSigningKey()) mark += L" | DEVELOPMENT SIGNING KEY, NOT A RELEASE";
  return mark;
}
