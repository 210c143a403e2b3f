// A thin owner of an UnRAR library archive handle.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "base/handles.h"

struct RarEntry {
  std::wstring name;
  uint64_t unpackedSize = 0;
  bool isFolder = false;
  bool isLink = false;
  bool isEncrypted = false;
};

class RarArchive {
 public:
  enum class Mode { List, Extract };

  // Reports processed bytes; false aborts the operation.
  using Progress = std::function<bool(uint64_t bytes)>;

  RarArchive() = default;
  ~RarArchive() { Close(); }
  RarArchive(const RarArchive&) = delete;
  RarArchive& operator=(const RarArchive&) = delete;

  // Returns the library's result code (0 on success).
  int Open(const std::wstring& path, Mode mode, Progress progress = nullptr);
  void Close();

  bool IsMultiVolume() const;
  bool HasEncryptedHeaders() const;

  // 0 with the entry, 10 at the end of the archive, or another result code.
  int ReadHeader(RarEntry& entry);
  int Skip();
  int ExtractInto(const std::wstring& folder);
  // The system error behind the call that last failed (0 when none or unknown): cleared before
  // each library call and read first thing after it, so that nothing of ours can change it.
  uint32_t SystemError() const { return systemError_; }

 private:
  static int CALLBACK Callback(UINT message, LPARAM user, LPARAM p1, LPARAM p2);

  // Our own read handle on the archive while it is open (see Open).
  UniqueHandle archiveFile_;
  HANDLE handle_ = nullptr;
  unsigned flags_ = 0;
  uint32_t systemError_ = 0;
  Progress progress_;
};
