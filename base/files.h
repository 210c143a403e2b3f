// File-system helpers over the Win32 API.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/paths.h"

// Full path ("/" to "\", dots resolved, trailing separators removed while longer than 3
// characters); the input, trimmed the same way, when the full path cannot be had.
std::wstring NormalizePath(const std::wstring& path);

// The form of path that every file call takes whatever its length. From 248 characters on
// (where CreateDirectoryW already refuses a plain path) the full, normalised path behind "\\?\"
// ("\\?\UNC\" for a share), which the system then takes literally; shorter paths and paths
// that already carry the prefix unchanged. Every Win32 file call of the launcher goes through
// it; the paths it keeps and shows stay in their plain form.
std::wstring LongPath(const std::wstring& path);

// The path with each short (8.3) name spelled long (GetLongPathNameW); unchanged when it does
// not exist or cannot be read. Paths compared by text are taken long first: TEMP is often
// given short (C:\Users\OYUNCU~1\...), a module started through it too.
std::wstring LongPathName(const std::wstring& path);
std::wstring GetModulePath();  // full path of the running executable, long names

bool FileExists(const std::wstring& path);  // exists and is not a directory
bool DirectoryExists(const std::wstring& path);

// The attributes of path (INVALID_FILE_ATTRIBUTES when it cannot be read) and whether it is a
// link by IsLinkEntry: the one test of "link" every caller uses, so that cloud placeholders
// are never mistaken for links.
uint32_t EntryAttributes(const std::wstring& path, bool& link);

// Creates the folder and every missing parent; true when it is a directory afterwards.
bool CreateDirectoryTree(const std::wstring& path);

// The time the retries of one operation may spend waiting over brief holds, shared by all its
// files: a tree of thousands of files that stay held costs a few seconds, not seconds each.
// Once it is spent, each remaining file is tried once. Only the pauses are counted.
class RetryBudget {
 public:
  static constexpr uint32_t kDefaultMs = 3000;
  explicit RetryBudget(uint32_t milliseconds = kDefaultMs) : leftMs_(milliseconds) {}
  // Waits up to wantedMs of what is left; false, without waiting, once nothing is.
  bool Pause(uint32_t wantedMs);
  unsigned Pauses() const { return pauses_; }
  // For tests: runs before each pause, as another program acting meanwhile would.
  std::function<void()> beforePause;

 private:
  uint32_t leftMs_;
  unsigned pauses_ = 0;
};

// Moves and deletes of the launcher's own files. Antivirus scanners, the search indexer and
// cloud sync open a fresh file for a moment, which fails a move or a delete with 5, 32 or 33;
// on Windows before 10 1903 and on FAT a deleted file still held that way keeps its folder
// from being removed (145). These retry just those failures with growing pauses, about 2 s in
// all, drawn from budget when one is given; any other failure returns at once.
// GetLastError() is the last attempt's. Paths in plain form (LongPath is applied here).
bool MoveFileRetrying(const std::wstring& from, const std::wstring& to, unsigned long flags,
                      RetryBudget* budget = nullptr);
bool DeleteFileRetrying(const std::wstring& path, RetryBudget* budget = nullptr);
bool RemoveDirectoryRetrying(const std::wstring& path, RetryBudget* budget = nullptr);

// Whether nothing is left at path. A delete the system accepts can leave the entry in place (a
// file another program holds with delete sharing, an immutable file under Wine); when
// something is left, GetLastError() is ERROR_ACCESS_DENIED or the system's code for the entry.
bool EntryGone(const std::wstring& path);

// CopyFileW (replacing target) without the source's mark of the web: CopyFileW copies the
// alternate streams, and a launcher copy carrying the browser's ":Zone.Identifier" would ask
// the player's leave to run on every start. False, with GetLastError(), when the copy failed.
bool CopyFileUnmarked(const std::wstring& source, const std::wstring& target);

// Writes a temporary file beside path fresh and unshared, flushes it and moves it over path
// with write-through. The temporary name is the writer's own (path + "." + process id + "-" +
// sequence + ".tmp"), so that two processes writing one file never take each other's; those
// that a killed writer left, and the plain path + ".tmp" of earlier builds, go with the next
// write. On any failure the temporary file is removed and false is returned; error then holds
// the system's text of the call that failed (a full disk says so).
bool WriteFileAtomic(const std::wstring& path, const std::string& bytes);
bool WriteFileAtomic(const std::wstring& path, const std::string& bytes, std::wstring& error);
// The same with the bytes handed over in pieces, so that a file of tens of megabytes is never
// held whole: produce calls write for each piece and returns false to give up, which leaves
// path as it was (error is then empty unless a write failed).
using WritePiece = std::function<bool(const char* data, size_t length)>;
bool WriteFileAtomicPieces(const std::wstring& path, const std::function<bool(const WritePiece& write)>& produce,
                           std::wstring& error);

// Writes all length bytes to an open file handle. A write that the system reports as done but
// short (a disk that filled up, under Wine) is continued, so that the failure that follows
// names its cause. On failure error holds the system's code, read at once.
bool WriteAll(void* file, const void* data, size_t length, uint32_t& error);

// What a real folder holds, links never entered: files (and links to files), links to
// folders, and the folder itself with its real subfolders, deepest first. Entries for which
// skip returns true are left out and not entered.
struct TreeListing {
  std::vector<std::wstring> files;
  std::vector<std::wstring> folderLinks;
  std::vector<std::wstring> folders;
};
TreeListing ListTree(const std::wstring& folder, const std::function<bool(const std::wstring&)>& skip = nullptr);

// Deletes one file or empty folder; counts it once it is gone, or records the first failure as
// "Silinemedi (<path>): <system text>". False only when it exists and could not be removed.
// Without a budget the entry has one of its own.
bool DeleteEntry(const std::wstring& path, std::atomic<unsigned>& count, std::wstring& failures,
                 RetryBudget* budget = nullptr);

// Deletes a file, a link (never followed) or a whole folder, deepest entries first,
// counting deleted entries and recording the first failure. Without a budget the tree has
// one of its own.
void RemoveTree(const std::wstring& path, std::atomic<unsigned>& count, std::wstring& failures,
                RetryBudget* budget = nullptr);

// RemoveTree without the bookkeeping, for scratch folders.
void DeleteTree(const std::wstring& path);

// The whole file, or false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
