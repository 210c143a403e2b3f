#include "base/log.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "base/files.h"
#include "base/handles.h"
#include "base/paths.h"
#include "base/text.h"

namespace {

// Written once under the log's lock when the folder is set, read by the crash report.
wchar_t g_crashReportFolder[1024];
wchar_t g_crashReportLog[1040];

constexpr size_t kPrefixSize = 48;

int FormatLinePrefix(char (&prefix)[kPrefixSize]) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return std::snprintf(prefix, kPrefixSize, "%04u-%02u-%02u %02u:%02u:%02u [%lu] ", now.wYear, now.wMonth, now.wDay,
                       now.wHour, now.wMinute, now.wSecond, static_cast<unsigned long>(GetCurrentProcessId()));
}

std::string LinePrefix() {
  char prefix[kPrefixSize];
  FormatLinePrefix(prefix);
  return prefix;
}

// One write under a byte-range lock; without waitForLock a lock held elsewhere is not waited for.
// False when the file cannot be opened.
bool WriteLocked(const wchar_t* path, const char* line, DWORD size, bool waitForLock) {
  // Opened per line, append-only and fully shared, so that other launcher processes
  // working on the same folder can interleave whole lines.
  UniqueHandle file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  // Windows appends through such a handle atomically; Wine seeks and writes, so two
  // processes can land on the same offset. A byte-range lock far past any real log size
  // serialises the writers there; where the lock is refused the append goes ahead as is.
  OVERLAPPED region{};
  region.Offset = 0xFFFFFFF0u;
  region.OffsetHigh = 0x7FFFFFFFu;
  const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (waitForLock ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  const bool locked = LockFileEx(file.Get(), flags, 0, 1, 0, &region);
  DWORD written = 0;
  WriteFile(file.Get(), line, size, &written, nullptr);
  if (locked) UnlockFileEx(file.Get(), 0, 1, 0, &region);
  return true;
}

// Appends one whole line to a log file: rotation first, then one write under a byte-range lock.
// False when the file cannot be opened.
bool AppendToLogFile(const std::wstring& path, const std::string& line) {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info) &&
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    const unsigned long long size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > LogFile::kRotateAbove) MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  return WriteLocked(path.c_str(), line.data(), static_cast<DWORD>(line.size()), true);
}

// The folder whose existence allows the log folder to be made again: the install folder of
// "<install>\TALVOREEN\logs", else the log folder's parent.
std::wstring LogFolderHome(const std::wstring& folder) {
  const std::wstring suffix = std::wstring(L"\\") + kLogFolder;
  if (folder.size() > suffix.size() && EqualsIgnoreCase(folder.substr(folder.size() - suffix.size()), suffix)) {
    return folder.substr(0, folder.size() - suffix.size());
  }
  return ParentPath(folder);
}

}  // namespace

void LogFile::SetDirectory(const std::wstring& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (folder.empty()) return;
  CreateDirectoryTree(folder);
  if (!DirectoryExists(folder)) return;
  path_ = JoinPath(folder, kLogFileName);
  folder_ = folder;
  if (path_.size() < std::size(g_crashReportLog)) {
    std::copy(path_.begin(), path_.end(), g_crashReportLog);
    g_crashReportLog[path_.size()] = L'\0';
    std::copy(folder.begin(), folder.end(), g_crashReportFolder);
    g_crashReportFolder[folder.size()] = L'\0';
  }
  for (const std::string& line : pending_) AppendLocked(line);
  pending_.clear();
}

void LogFile::Line(const std::wstring& text) {
  std::string line = LinePrefix() + Utf8FromWide(EscapeControlCharacters(text)) + "\r\n";
  std::lock_guard<std::mutex> lock(mutex_);
  if (!path_.empty()) {
    AppendLocked(line);
  } else if (pending_.size() < kMaxPendingLines) {
    pending_.push_back(std::move(line));
  }
}

std::wstring LogFile::Path() {
  std::lock_guard<std::mutex> lock(mutex_);
  return path_;
}

void LogFile::AppendLocked(const std::string& line) {
  if (AppendToLogFile(path_, line)) return;
  // The launcher's own removal of the game files takes the log folder with it, at the moment
  // support needs the log most. Made again only while its install folder is there: a removed
  // installation does not come back as a stray folder.
  if (DirectoryExists(folder_) || !DirectoryExists(LogFolderHome(folder_))) return;
  CreateDirectoryTree(folder_);
  AppendToLogFile(path_, line);
}

LogFile& ProcessLog() {
  static LogFile log;
  return log;
}

void LogLine(const std::wstring& text) { ProcessLog().Line(text); }

void SetLogDirectory(const std::wstring& folder) { ProcessLog().SetDirectory(folder); }

const wchar_t* LogFolderForCrashReport() { return g_crashReportFolder; }

void LogLineWithoutLock(const wchar_t* text) {
  if (!g_crashReportLog[0]) return;
  char line[4096];
  char prefix[kPrefixSize];
  const int head = FormatLinePrefix(prefix);
  if (head <= 0) return;
  std::memcpy(line, prefix, static_cast<size_t>(head));
  const int room = static_cast<int>(sizeof(line)) - head - 2;
  int body = WideCharToMultiByte(CP_UTF8, 0, text, -1, line + head, room, nullptr, nullptr);
  if (body <= 0) return;
  body -= 1;  // the terminating NUL
  line[head + body] = '\r';
  line[head + body + 1] = '\n';
  WriteLocked(g_crashReportLog, line, static_cast<DWORD>(head + body + 2), false);
}
