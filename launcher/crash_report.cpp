#include "launcher/crash_report.h"

#include <windows.h>

#include <dbghelp.h>

#include <csignal>
#include <cwchar>
#include <exception>

#include "base/console.h"
#include "base/log.h"

namespace {

// What a fatal C++ error (std::terminate, abort) raises so that it reaches the same filter
// as a fault. An application-defined code (customer bit set).
constexpr DWORD kFatalErrorCode = 0xE0545646;
// A thread that faults while another writes the report waits for that one to end the
// process; only a report that hangs itself is cut short after this.
constexpr DWORD kOtherReportWaitMs = 120000;
constexpr size_t kPathCapacity = 1200;

// Everything the filter needs is prepared here at start-up: a crashed process may hold the
// heap's lock, the log's lock or a once-flag, and the filter must take none of them.
bool g_consoleLine = false;
volatile LONG g_reportingThread = 0;  // the thread writing the report, 0 while none is
volatile LONG g_reportCode = 0;       // that thread's exception code
wchar_t g_tempFolder[MAX_PATH + 1];
wchar_t g_reportPath[kPathCapacity];
wchar_t g_scratchPath[kPathCapacity];
wchar_t g_line[kPathCapacity + 96];
wchar_t g_pruneFolder[kPathCapacity];
wchar_t g_prunePattern[kPathCapacity];
wchar_t g_pruneNewest[kCrashReportsKept][MAX_PATH];

// Appends text to buffer (capacity in characters); false when it does not fit.
bool Append(wchar_t* buffer, size_t capacity, const wchar_t* text) {
  size_t length = std::wcslen(buffer);
  for (; *text; ++text) {
    if (length + 1 >= capacity) return false;
    buffer[length++] = *text;
  }
  buffer[length] = L'\0';
  return true;
}

// value in decimal, at least width digits.
void AppendNumber(wchar_t* buffer, size_t capacity, unsigned long value, int width) {
  wchar_t digits[16];
  int n = 0;
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0 && n < 15);
  while (n < width && n < 15) digits[n++] = L'0';
  wchar_t text[16];
  for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
  text[n] = L'\0';
  Append(buffer, capacity, text);
}

void AppendHex(wchar_t* buffer, size_t capacity, unsigned long value) {
  wchar_t text[11] = L"0x";
  for (int i = 0; i < 8; ++i) text[2 + i] = L"0123456789ABCDEF"[(value >> (28 - 4 * i)) & 0xF];
  text[10] = L'\0';
  Append(buffer, capacity, text);
}

void FormatReportName(wchar_t* buffer, size_t capacity, const SYSTEMTIME& t, unsigned long processId) {
  Append(buffer, capacity, L"crash-");
  AppendNumber(buffer, capacity, t.wYear, 4);
  AppendNumber(buffer, capacity, t.wMonth, 2);
  AppendNumber(buffer, capacity, t.wDay, 2);
  Append(buffer, capacity, L"-");
  AppendNumber(buffer, capacity, t.wHour, 2);
  AppendNumber(buffer, capacity, t.wMinute, 2);
  AppendNumber(buffer, capacity, t.wSecond, 2);
  Append(buffer, capacity, L"-");
  AppendNumber(buffer, capacity, processId, 0);
  Append(buffer, capacity, L".dmp");
}

const wchar_t* ReportFolder() {
  const wchar_t* logFolder = LogFolderForCrashReport();
  return logFolder && logFolder[0] ? logFolder : g_tempFolder;
}

// Keeps the newest reports: the names sort by time because their stamps have fixed width.
// One pass with a fixed table of the newest names seen; every older one goes at once.
void PruneOldReports(const wchar_t* folder) {
  g_pruneFolder[0] = L'\0';
  g_prunePattern[0] = L'\0';
  if (!Append(g_pruneFolder, kPathCapacity, folder) || !Append(g_pruneFolder, kPathCapacity, L"\\") ||
      !Append(g_prunePattern, kPathCapacity, g_pruneFolder) || !Append(g_prunePattern, kPathCapacity, L"crash-*.dmp")) {
    return;
  }
  const size_t folderLength = std::wcslen(g_pruneFolder);
  int kept = 0;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(g_prunePattern, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    // The table is sorted newest first; what falls off its end is deleted.
    wchar_t* evicted = found.cFileName;
    if (kept < kCrashReportsKept) {
      std::wcscpy(g_pruneNewest[kept++], found.cFileName);
      evicted = nullptr;
    } else if (std::wcscmp(found.cFileName, g_pruneNewest[kept - 1]) > 0) {
      wchar_t oldest[MAX_PATH];
      std::wcscpy(oldest, g_pruneNewest[kept - 1]);
      std::wcscpy(g_pruneNewest[kept - 1], found.cFileName);
      std::wcscpy(found.cFileName, oldest);
    }
    for (int i = kept - 1; i > 0 && std::wcscmp(g_pruneNewest[i], g_pruneNewest[i - 1]) > 0; --i) {
      wchar_t swap[MAX_PATH];
      std::wcscpy(swap, g_pruneNewest[i]);
      std::wcscpy(g_pruneNewest[i], g_pruneNewest[i - 1]);
      std::wcscpy(g_pruneNewest[i - 1], swap);
    }
    if (evicted) {
      g_pruneFolder[folderLength] = L'\0';
      if (Append(g_pruneFolder, kPathCapacity, evicted)) DeleteFileW(g_pruneFolder);
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

// The dump goes to a scratch name first: a report cut short by a kill is never taken for one.
bool WriteDump(EXCEPTION_POINTERS* exception) {
  HANDLE file = CreateFileW(g_scratchPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  MINIDUMP_EXCEPTION_INFORMATION info{};
  info.ThreadId = GetCurrentThreadId();
  info.ExceptionPointers = exception;
  info.ClientPointers = FALSE;
  const bool written = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                                         exception ? &info : nullptr, nullptr, nullptr) != FALSE &&
                       FlushFileBuffers(file) != FALSE;
  CloseHandle(file);
  if (written && MoveFileExW(g_scratchPath, g_reportPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(g_scratchPath);
  return false;
}

LONG WINAPI WriteCrashReport(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception && exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode : kFatalErrorCode;
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  const LONG reporter = InterlockedCompareExchange(&g_reportingThread, self, 0);
  if (reporter != 0) {
    // Another thread's report is under way and ends the process with its code; a fault of
    // the reporting thread itself cannot wait for its own report.
    if (reporter != self) WaitForSingleObject(GetCurrentProcess(), kOtherReportWaitMs);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(g_reportCode));
    return EXCEPTION_EXECUTE_HANDLER;
  }
  InterlockedExchange(&g_reportCode, static_cast<LONG>(code));

  const wchar_t* folder = ReportFolder();
  SYSTEMTIME now{};
  GetLocalTime(&now);
  g_reportPath[0] = L'\0';
  bool named = Append(g_reportPath, kPathCapacity, folder) && Append(g_reportPath, kPathCapacity, L"\\");
  if (named) FormatReportName(g_reportPath, kPathCapacity, now, GetCurrentProcessId());
  g_scratchPath[0] = L'\0';
  named = named && Append(g_scratchPath, kPathCapacity, g_reportPath) && Append(g_scratchPath, kPathCapacity, L".part");
  const bool written = named && WriteDump(exception);

  g_line[0] = L'\0';
  const size_t lineCapacity = sizeof(g_line) / sizeof(g_line[0]);
  Append(g_line, lineCapacity, L"crash: exception ");
  AppendHex(g_line, lineCapacity, code);
  Append(g_line, lineCapacity, written ? L", report " : L", no report could be written in ");
  Append(g_line, lineCapacity, written ? g_reportPath : folder);
  LogLineWithoutLock(g_line);
  if (g_consoleLine) {
    g_line[0] = L'\0';
    Append(g_line, lineCapacity, written ? L"crash report " : L"crash report could not be written");
    if (written) Append(g_line, lineCapacity, g_reportPath);
    WriteConsoleLineWithoutLock(g_line);
  }
  if (written) PruneOldReports(folder);
  // The process ends as it would without us: its exit code is the exception's code.
  TerminateProcess(GetCurrentProcess(), code);
  return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void RaiseFatalError() {
  RaiseException(kFatalErrorCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  TerminateProcess(GetCurrentProcess(), kFatalErrorCode);
  for (;;) {
  }
}

void OnAbortSignal(int) { RaiseFatalError(); }

}  // namespace

std::wstring CrashReportFileName(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                                 unsigned second, unsigned long processId) {
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(year);
  t.wMonth = static_cast<WORD>(month);
  t.wDay = static_cast<WORD>(day);
  t.wHour = static_cast<WORD>(hour);
  t.wMinute = static_cast<WORD>(minute);
  t.wSecond = static_cast<WORD>(second);
  wchar_t name[64] = {};
  FormatReportName(name, 64, t, processId);
  return name;
}

void InstallCrashReporter(bool consoleLine) {
  g_consoleLine = consoleLine;
  if (consoleLine) PrepareConsoleLineWithoutLock();
  const DWORD n = GetTempPathW(MAX_PATH + 1, g_tempFolder);
  if (n == 0 || n > MAX_PATH) {
    g_tempFolder[0] = L'.';
    g_tempFolder[1] = L'\0';
  } else {
    for (DWORD end = n; end > 3 && (g_tempFolder[end - 1] == L'\\' || g_tempFolder[end - 1] == L'/'); --end) {
      g_tempFolder[end - 1] = L'\0';
    }
  }
  SetUnhandledExceptionFilter(WriteCrashReport);
  // An exception that leaves a thread, or abort(), never reaches the filter by itself.
  std::set_terminate([] { RaiseFatalError(); });
  std::signal(SIGABRT, OnAbortSignal);
  // No Windows error box in front of the report; the report is what support asks for. The
  // game is started without it (StartProgram), so that its own crashes reach Windows.
  SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX);
}
