// File digests over BCrypt: SHA-256 and MD5 as lower-case hex text.
// Windows only. One Hasher belongs to one thread; the providers are shared.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// 1 selects MD5; every other value selects SHA-256.
using HashKind = int;
inline constexpr HashKind kHashSha256 = 0;
inline constexpr HashKind kHashMd5 = 1;

inline constexpr size_t kHashFileReadSize = 1048576;  // 1 MiB

// Receives the number of bytes just read.
using ProgressCallback = std::function<void(uint64_t bytes)>;

class Hasher {
 public:
  explicit Hasher(HashKind kind);
  ~Hasher();
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;

  bool Valid() const { return handle_ != nullptr; }
  void Update(const void* data, size_t length);
  // Lower-case hex of the digest; empty when the object is invalid or the platform fails.
  // The object is not reusable afterwards.
  std::string FinishHex();

 private:
  void* handle_ = nullptr;  // BCRYPT_HASH_HANDLE
  unsigned digestLength_ = 0;
  bool failed_ = false;
};

// Digests a whole file in 1 MiB reads. False when the file cannot be opened or read, the
// hash object cannot be made, cancel reads true before a read, or finishing fails; hex is
// replaced only after a complete read.
bool HashFile(HashKind kind, const std::wstring& path, std::string& hex, const ProgressCallback& progress,
              const std::atomic<bool>* cancel);
