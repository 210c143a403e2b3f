#include "base/files.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/format.h"
#include "base/handles.h"
#include "base/text.h"

std::wstring NormalizePath(const std::wstring& path) {
  std::wstring full;
  if (!path.empty()) {
    std::vector<wchar_t> buffer(260);
    for (;;) {
      DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
      if (length == 0) break;
      if (length < buffer.size()) {
        full = NormalizeSeparatorsAndDots(std::wstring(buffer.data(), length));
        break;
      }
      buffer.resize(length + 1);
    }
  }
  return TrimTrailingSeparators(full.empty() ? path : full);
}

std::wstring LongPath(const std::wstring& path) {
  constexpr size_t kPlainPathLimit = MAX_PATH - 12;
  static const std::wstring kPrefix = L"\\\\?\\";
  if (path.size() < kPlainPathLimit || path.compare(0, 4, kPrefix) == 0) return path;
  const std::wstring full = NormalizePath(path);
  if (full.compare(0, 4, kPrefix) == 0 || full.compare(0, 4, L"\\\\.\\") == 0) return full;
  if (full.compare(0, 2, L"\\\\") == 0) return kPrefix + L"UNC" + full.substr(1);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return kPrefix + full;
  return path;
}

std::wstring LongPathName(const std::wstring& path) {
  if (path.empty()) return path;
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return path;
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
  return path;
}

std::wstring GetModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::wstring();
    // A launcher started through a short path reports that path; its folder is compared by
    // text with install folders spelled long.
    if (length < buffer.size()) return LongPathName(std::wstring(buffer.data(), length));
    if (buffer.size() >= 32768) return std::wstring();
    buffer.resize(buffer.size() * 2);
  }
}

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

uint32_t EntryAttributes(const std::wstring& path, bool& link) {
  const std::wstring target = LongPath(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  link = false;
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return attributes;
  // Only a directory listing or an open handle tells the tag; the listing opens nothing.
  WIN32_FIND_DATAW data;
  DWORD tag = 0;
  HANDLE find = FindFirstFileExW(target.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find != INVALID_HANDLE_VALUE) {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) tag = data.dwReserved0;
    FindClose(find);
  }
  link = IsLinkEntry(attributes, tag);
  return attributes;
}

bool CreateDirectoryTree(const std::wstring& path) {
  if (path.empty()) return false;
  if (DirectoryExists(path)) return true;
  std::wstring parent = ParentPath(path);
  // Stop at a drive root or share root: they cannot be created.
  if (!parent.empty() && parent != path && !(parent.size() == 2 && parent[1] == L':')) CreateDirectoryTree(parent);
  CreateDirectoryW(LongPath(path).c_str(), nullptr);
  return DirectoryExists(path);
}

namespace {

bool IsBriefHold(DWORD code) {
  return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ||
         code == ERROR_DIR_NOT_EMPTY;
}

template <typename Attempt>
bool RetryOverBriefHolds(const Attempt& attempt, RetryBudget* given) {
  // 2 s in all: long enough for a scan of a fresh file, short enough for a file that stays held.
  static constexpr DWORD kPausesMs[] = {20, 40, 80, 160, 300, 500, 900};
  RetryBudget own;
  RetryBudget& budget = given ? *given : own;
  for (const DWORD pause : kPausesMs) {
    if (attempt()) return true;
    const DWORD code = GetLastError();
    if (!IsBriefHold(code) || !budget.Pause(pause)) {
      SetLastError(code);
      return false;
    }
  }
  return attempt();
}

}  // namespace

bool RetryBudget::Pause(uint32_t wantedMs) {
  if (leftMs_ == 0) return false;
  const uint32_t pause = std::min(wantedMs, leftMs_);
  leftMs_ -= pause;
  ++pauses_;
  if (beforePause) beforePause();
  Sleep(pause);
  return true;
}

bool MoveFileRetrying(const std::wstring& from, const std::wstring& to, unsigned long flags, RetryBudget* budget) {
  const std::wstring source = LongPath(from), target = LongPath(to);
  return RetryOverBriefHolds([&] { return MoveFileExW(source.c_str(), target.c_str(), flags) != FALSE; }, budget);
}

bool DeleteFileRetrying(const std::wstring& path, RetryBudget* budget) {
  const std::wstring target = LongPath(path);
  return RetryOverBriefHolds([&] { return DeleteFileW(target.c_str()) != FALSE; }, budget);
}

bool RemoveDirectoryRetrying(const std::wstring& path, RetryBudget* budget) {
  const std::wstring target = LongPath(path);
  return RetryOverBriefHolds([&] { return RemoveDirectoryW(target.c_str()) != FALSE; }, budget);
}

bool EntryGone(const std::wstring& path) {
  if (GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
    // Still there after a delete that reported success: the system gives no code for that.
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  const DWORD code = GetLastError();
  // A delete still pending (Windows before POSIX-style deletes) answers 5 or 303 until the
  // last holder closes the file: not gone yet.
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
  SetLastError(code);
  return false;
}

bool CopyFileUnmarked(const std::wstring& source, const std::wstring& target) {
  if (!CopyFileW(LongPath(source).c_str(), LongPath(target).c_str(), FALSE)) return false;
  // Absent on most files and on file systems without streams; either way nothing is left.
  DeleteFileW(LongPath(target + L":Zone.Identifier").c_str());
  return true;
}

bool WriteAll(void* file, const void* data, size_t length, uint32_t& error) {
  const char* at = static_cast<const char*>(data);
  error = 0;
  while (length > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(length, 1u << 24));
    DWORD written = 0;
    if (!WriteFile(file, at, chunk, &written, nullptr)) {
      error = GetLastError();
      return false;
    }
    // Success with nothing written, for a request of at least one byte, leaves no other cause.
    if (written == 0) {
      error = ERROR_DISK_FULL;
      return false;
    }
    at += written;
    length -= written;
  }
  return true;
}

namespace {

// Digits from at up to the first character that is not one, as a number; at moves past them.
bool ReadDigits(const wchar_t*& at, unsigned long long& value) {
  const wchar_t* start = at;
  value = 0;
  while (*at >= L'0' && *at <= L'9' && at - start < 19) value = value * 10 + static_cast<unsigned>(*at++ - L'0');
  return at != start;
}

// Deletes the temporary files of path that no running writer owns: the plain ".tmp" of earlier
// builds (one still being written is open without sharing and stays) and ours whose process
// has ended. A writer of this process owns its file until its own clean-up.
void DeleteStaleTemporaries(const std::wstring& path) {
  const std::wstring folder = ParentPath(path);
  const std::wstring name = path.substr(folder.empty() ? 0 : folder.size() + 1);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(LongPath(path + L".*tmp").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring found = data.cFileName;
    if (found.size() < name.size() + 4 || !EqualsIgnoreCase(found.substr(0, name.size() + 1), name + L".") ||
        !EqualsIgnoreCase(found.substr(found.size() - 4), L".tmp")) {
      continue;
    }
    const std::wstring middle =
        found.size() == name.size() + 4 ? std::wstring() : found.substr(name.size() + 1, found.size() - name.size() - 5);
    bool stale = middle.empty();
    const wchar_t* at = middle.c_str();
    unsigned long long pid = 0, sequence = 0;
    if (ReadDigits(at, pid) && *at++ == L'-' && ReadDigits(at, sequence) && *at == 0 && pid != GetCurrentProcessId()) {
      // A process that cannot be opened for lack of rights still runs.
      HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
      stale = !process && GetLastError() == ERROR_INVALID_PARAMETER;
      if (process) {
        stale = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        CloseHandle(process);
      }
    }
    if (stale) DeleteFileW(LongPath(JoinPath(folder, found)).c_str());
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

}  // namespace

bool WriteFileAtomicPieces(const std::wstring& path, const std::function<bool(const WritePiece& write)>& produce,
                           std::wstring& error) {
  static std::atomic<unsigned> sequence{0};
  const std::wstring temp = path + L"." + DecimalText(static_cast<unsigned long long>(GetCurrentProcessId())) + L"-" +
                            DecimalText(static_cast<unsigned long long>(++sequence)) + L".tmp";
  uint32_t code = 0;
  bool ok = false;
  {
    UniqueHandle file(CreateFileW(LongPath(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
      error = WindowsErrorText(GetLastError());
      return false;
    }
    bool writeFailed = false;
    ok = produce([&](const char* data, size_t length) {
      writeFailed = !WriteAll(file.Get(), data, length, code);
      return !writeFailed;
    });
    ok = ok && !writeFailed;
    if (ok && !FlushFileBuffers(file.Get())) {
      code = GetLastError();
      ok = false;
    }
  }
  if (ok && !MoveFileRetrying(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    code = GetLastError();
    ok = false;
  }
  if (ok) {
    DeleteStaleTemporaries(path);
    error.clear();
    return true;
  }
  DeleteFileRetrying(temp);
  error = code ? WindowsErrorText(code) : std::wstring();
  return false;
}

bool WriteFileAtomic(const std::wstring& path, const std::string& bytes, std::wstring& error) {
  return WriteFileAtomicPieces(path, [&bytes](const WritePiece& write) { return write(bytes.data(), bytes.size()); },
                               error);
}

bool WriteFileAtomic(const std::wstring& path, const std::string& bytes) {
  std::wstring ignored;
  return WriteFileAtomic(path, bytes, ignored);
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  UniqueHandle file(CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t offset = 0;
  while (offset < bytes.size()) {
    DWORD read = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1u << 24));
    if (!ReadFile(file.Get(), &bytes[offset], chunk, &read, nullptr)) return false;
    if (read == 0) break;
    offset += read;
  }
  bytes.resize(offset);
  return true;
}

bool DeleteEntry(const std::wstring& path, std::atomic<unsigned>& count, std::wstring& failures,
                 RetryBudget* budget) {
  const std::wstring target = LongPath(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  const bool ok = ((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryRetrying(path, budget)
                                                           : DeleteFileRetrying(path, budget)) &&
                  EntryGone(path);
  if (ok) {
    ++count;
  } else if (failures.empty()) {
    failures = WithSystemError(L"Silinemedi", path, GetLastError());
  }
  return ok;
}

TreeListing ListTree(const std::wstring& folder, const std::function<bool(const std::wstring&)>& skip) {
  TreeListing listing;
  std::vector<std::wstring> pending = {folder};
  while (!pending.empty()) {
    const std::wstring current = pending.back();
    pending.pop_back();
    listing.folders.push_back(current);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(LongPath(JoinPath(current, L"*")).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = JoinPath(current, name);
      if (skip && skip(child)) continue;
      const bool isFolder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
      if (!isFolder) {
        listing.files.push_back(child);
      } else if (IsLinkEntry(data.dwFileAttributes, data.dwReserved0)) {
        listing.folderLinks.push_back(child);
      } else {
        pending.push_back(child);
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  std::sort(listing.folders.begin(), listing.folders.end(),
            [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  return listing;
}

void RemoveTree(const std::wstring& path, std::atomic<unsigned>& count, std::wstring& failures,
                RetryBudget* given) {
  RetryBudget own;
  RetryBudget* budget = given ? given : &own;
  bool link = false;
  const DWORD attributes = EntryAttributes(path, link);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || link) {
    DeleteEntry(path, count, failures, budget);
    return;
  }
  const TreeListing listing = ListTree(path);
  bool allDeleted = true;
  for (const std::wstring& file : listing.files) allDeleted = DeleteEntry(file, count, failures, budget) && allDeleted;
  for (const std::wstring& link : listing.folderLinks) {
    allDeleted = DeleteEntry(link, count, failures, budget) && allDeleted;
  }
  for (const std::wstring& f : listing.folders) {
    SetFileAttributesW(LongPath(f).c_str(), FILE_ATTRIBUTE_NORMAL);
    // A folder is worth waiting for only when all it held went; a file that stayed keeps it.
    if (!(allDeleted ? RemoveDirectoryRetrying(f, budget) : RemoveDirectoryW(LongPath(f).c_str()))) {
      const DWORD code = GetLastError();
      if (failures.empty() && code != ERROR_FILE_NOT_FOUND) failures = WithSystemError(L"Silinemedi", f, code);
    }
  }
}

void DeleteTree(const std::wstring& path) {
  std::atomic<unsigned> ignoredCount{0};
  std::wstring ignoredFailure;
  RemoveTree(path, ignoredCount, ignoredFailure);
}
