#include "manifest/hashing.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "base/files.h"
#include "base/handles.h"
#include "manifest/rules.h"

namespace {

// Process-wide providers, opened together on first use and never closed; a provider that
// fails to open stays null.
struct Providers {
  BCRYPT_ALG_HANDLE sha256 = nullptr;
  BCRYPT_ALG_HANDLE md5 = nullptr;
};

const Providers& GetProviders() {
  static std::once_flag once;
  static Providers providers;
  std::call_once(once, [] {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&providers.sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      providers.sha256 = nullptr;
    }
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&providers.md5, BCRYPT_MD5_ALGORITHM, nullptr, 0))) {
      providers.md5 = nullptr;
    }
  });
  return providers;
}

constexpr ULONG kMaxUpdatePiece = 1073741824;  // 1 GiB per BCryptHashData call

}  // namespace

Hasher::Hasher(HashKind kind) {
  const Providers& providers = GetProviders();
  BCRYPT_ALG_HANDLE provider = kind == kHashMd5 ? providers.md5 : providers.sha256;
  digestLength_ = kind == kHashMd5 ? 16 : 32;
  if (!provider) return;
  BCRYPT_HASH_HANDLE handle = nullptr;
  if (BCRYPT_SUCCESS(BCryptCreateHash(provider, &handle, nullptr, 0, nullptr, 0, 0))) handle_ = handle;
}

Hasher::~Hasher() {
  if (handle_) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(handle_));
}

void Hasher::Update(const void* data, size_t length) {
  if (!handle_) return;
  auto bytes = static_cast<const unsigned char*>(data);
  while (length > 0) {
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(length, kMaxUpdatePiece));
    if (!BCRYPT_SUCCESS(
            BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(handle_), const_cast<PUCHAR>(bytes), piece, 0))) {
      failed_ = true;  // a digest that missed bytes must not look valid
    }
    bytes += piece;
    length -= piece;
  }
}

std::string Hasher::FinishHex() {
  if (!handle_ || failed_) return std::string();
  unsigned char digest[32] = {};
  if (!BCRYPT_SUCCESS(BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(handle_), digest, digestLength_, 0))) {
    return std::string();
  }
  return LowerHex(digest, digestLength_);
}

bool HashFile(HashKind kind, const std::wstring& path, std::string& hex, const ProgressCallback& progress,
              const std::atomic<bool>* cancel) {
  // Write sharing too, so that a file another program holds open for writing (with sharing
  // allowed) can still be digested; a holder that denies read sharing still fails the open.
  UniqueHandle file(CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.Valid()) return false;
  Hasher hasher(kind);
  if (!hasher.Valid()) return false;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kHashFileReadSize]);
  for (;;) {
    if (cancel && cancel->load()) return false;
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer.get(), static_cast<DWORD>(kHashFileReadSize), &read, nullptr)) return false;
    if (read == 0) break;
    hasher.Update(buffer.get(), read);
    if (progress) progress(read);
  }
  file.Reset();
  hex = hasher.FinishHex();
  return !hex.empty();
}
