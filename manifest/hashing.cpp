#include "manifest/hashing.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>
#include <cryptopp/sha.h>

#include "manifest/rules.h"

// MD5 stays with Crypto++ as well: measured under Wine it digests about as fast as BCrypt, and one
// engine serves the launcher, its tests and the publisher on every platform.
Hasher::Hasher(HashKind kind) {
  if (kind == kHashMd5) {
    hash_.reset(new CryptoPP::Weak::MD5);
  } else {
    hash_.reset(new CryptoPP::SHA256);
  }
}

Hasher::~Hasher() = default;

void Hasher::Update(const void* data, size_t length) {
  if (hash_ && length > 0) hash_->Update(static_cast<const CryptoPP::byte*>(data), length);
}

std::string Hasher::FinishHex() {
  if (!hash_) return std::string();
  unsigned char digest[32] = {};
  const unsigned length = hash_->DigestSize();
  hash_->Final(digest);
  hash_.reset();
  return LowerHex(digest, length);
}

std::string HashEngineDescription() {
  return "SHA-256: " + CryptoPP::SHA256().AlgorithmProvider() + ", MD5: " + CryptoPP::Weak::MD5().AlgorithmProvider();
}
