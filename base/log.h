// The diagnostic log "TALVOREEN\logs\launcher.log" of an install folder, shared by every
// launcher process working on that folder. Lines logged before the folder is known are kept
// in memory (at most 500) and written out when it is set.
#pragma once

#include <mutex>
#include <string>
#include <vector>

inline constexpr const wchar_t* kLogFolder = L"TALVOREEN\\logs";
inline constexpr const wchar_t* kLogFileName = L"launcher.log";

class LogFile {
 public:
  static constexpr size_t kMaxPendingLines = 500;
  static constexpr unsigned long long kRotateAbove = 2097152;  // bytes; exactly this size stays

  // Creates the folder if needed; when it exists, later lines go to its "launcher.log" and
  // the pending lines are written out first.
  void SetDirectory(const std::wstring& folder);

  // Timestamps and appends one line, control characters escaped; never fails towards the caller.
  // A log folder removed meanwhile is made again while the folder holding it exists.
  void Line(const std::wstring& text);

  std::wstring Path();

 private:
  void AppendLocked(const std::string& line);

  std::mutex mutex_;
  std::wstring path_;
  std::wstring folder_;
  std::vector<std::string> pending_;
};

LogFile& ProcessLog();

// Timestamps and appends one line. Control characters in text are escaped
// (EscapeControlCharacters), so text from outside never starts a line of its own.
void LogLine(const std::wstring& text);

void SetLogDirectory(const std::wstring& folder);

// The folder of the process log once it is set, else an empty text. Readable without the
// log's lock, which a crashing thread may hold: for the crash report only.
const wchar_t* LogFolderForCrashReport();
// Appends one line as LogLine does, but takes no lock, waits for none and allocates nothing,
// so that a crashed process can still write it; text is not escaped (fixed texts and paths
// only). Nothing before a folder is set.
void LogLineWithoutLock(const wchar_t* text);
