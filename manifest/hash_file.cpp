#include <windows.h>

#include "base/files.h"
#include "base/handles.h"
#include "manifest/hashing.h"

FileHashReader::FileHashReader() = default;
FileHashReader::~FileHashReader() = default;

bool FileHashReader::Hash(HashKind kind, const std::wstring& path, std::string& hex, const ProgressCallback& progress,
                          const std::atomic<bool>* cancel) {
  // Write sharing too, so that a file another program holds open for writing (with sharing
  // allowed) can still be digested; a holder that denies read sharing still fails the open.
  UniqueHandle file(CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.Valid()) return false;
  Hasher hasher(kind);
  if (!hasher.Valid()) return false;
  // A fresh 1 MiB block is mapped and unmapped by the system on every file; kept, it costs
  // neither the calls nor the page faults of touching it again.
  if (!buffer_) buffer_.reset(new unsigned char[kHashFileReadSize]);
  for (;;) {
    if (cancel && cancel->load()) return false;
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer_.get(), static_cast<DWORD>(kHashFileReadSize), &read, nullptr)) return false;
    if (read == 0) break;
    hasher.Update(buffer_.get(), read);
    if (progress) progress(read);
  }
  file.Reset();
  hex = hasher.FinishHex();
  return !hex.empty();
}

bool HashFile(HashKind kind, const std::wstring& path, std::string& hex, const ProgressCallback& progress,
              const std::atomic<bool>* cancel) {
  return FileHashReader().Hash(kind, path, hex, progress, cancel);
}
