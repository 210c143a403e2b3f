// File digests: SHA-256 and MD5 as lower-case hex text, with Crypto++, which picks the
// processor's SHA instructions at run time where they exist. The digest object is portable
// (the publisher uses it too); reading files is Windows only. One Hasher belongs to one thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace CryptoPP {
class HashTransformation;
}

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

  bool Valid() const { return hash_ != nullptr; }
  void Update(const void* data, size_t length);
  // Lower-case hex of the digest; empty when the object is invalid or already finished.
  // The object is not reusable afterwards.
  std::string FinishHex();

 private:
  std::unique_ptr<CryptoPP::HashTransformation> hash_;
};

// Which code digests each kind on this processor, e.g. "SHA-256: SHANI, MD5: C++".
std::string HashEngineDescription();

// Reads files for their digests with one 1 MiB buffer kept from file to file, so that a
// thread digesting many files allocates it once.
class FileHashReader {
 public:
  FileHashReader();
  ~FileHashReader();
  FileHashReader(const FileHashReader&) = delete;
  FileHashReader& operator=(const FileHashReader&) = delete;

  // As HashFile.
  bool Hash(HashKind kind, const std::wstring& path, std::string& hex, const ProgressCallback& progress,
            const std::atomic<bool>* cancel);

 private:
  std::unique_ptr<unsigned char[]> buffer_;
};

// Digests a whole file in 1 MiB reads. False when the file cannot be opened or read, the
// hash object cannot be made, cancel reads true before a read, or finishing fails; hex is
// replaced only after a complete read.
bool HashFile(HashKind kind, const std::wstring& path, std::string& hex, const ProgressCallback& progress,
              const std::atomic<bool>* cancel);
