#include "launcher/crash_report.h"

#include <windows.h>

#include <dbghelp.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/files.h"
#include "base/handles.h"
#include "base/log.h"

namespace {

// What a fatal C++ error (std::terminate, abort) raises so that it reaches the same filter
// as a fault. An application-defined code (customer bit set).
constexpr DWORD kFatalErrorCode = 0xE0545646;

bool g_consoleLine = false;
volatile LONG g_reporting = 0;

std::wstring ReportFolder() {
  const wchar_t* logFolder = LogFolderForCrashReport();
  if (logFolder && logFolder[0]) return logFolder;
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return L".";
  std::wstring folder(temp, n);
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return folder;
}

// Keeps the newest reports; the names sort by time because their stamps have fixed width.
void PruneOldReports(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileW(JoinPath(folder, L"crash-*.dmp").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  if (names.size() <= static_cast<size_t>(kCrashReportsKept)) return;
  std::sort(names.begin(), names.end());
  for (size_t i = 0; i + kCrashReportsKept < names.size(); ++i) DeleteFileW(JoinPath(folder, names[i]).c_str());
}

std::wstring HexText(unsigned long value) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08lX", value);
  return text;
}

LONG WINAPI WriteCrashReport(EXCEPTION_POINTERS* exception) {
  // One report per process: a second fault while reporting ends the process at once.
  if (InterlockedExchange(&g_reporting, 1) != 0) TerminateProcess(GetCurrentProcess(), 0xC0000409);
  const DWORD code = exception && exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode : kFatalErrorCode;
  const std::wstring folder = ReportFolder();
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::wstring path =
      JoinPath(folder, CrashReportFileName(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                                           GetCurrentProcessId()));
  bool written = false;
  {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid()) {
      MINIDUMP_EXCEPTION_INFORMATION info{};
      info.ThreadId = GetCurrentThreadId();
      info.ExceptionPointers = exception;
      info.ClientPointers = FALSE;
      written = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file.Get(), MiniDumpNormal,
                                  exception ? &info : nullptr, nullptr, nullptr) != FALSE;
    }
  }
  if (!written) DeleteFileW(path.c_str());
  const std::wstring line = L"crash: exception " + HexText(code) +
                            (written ? L", report " + path : std::wstring(L", no report could be written in " + folder));
  // The crashing thread may hold the log's lock.
  LogLineWithoutLock(line);
  if (g_consoleLine) WriteConsoleLine(written ? L"crash report " + path : L"crash report could not be written");
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
  wchar_t name[64];
  std::swprintf(name, 64, L"crash-%04u%02u%02u-%02u%02u%02u-%lu.dmp", year, month, day, hour, minute, second, processId);
  return name;
}

void InstallCrashReporter(bool consoleLine) {
  g_consoleLine = consoleLine;
  SetUnhandledExceptionFilter(WriteCrashReport);
  // An exception that leaves a thread, or abort(), never reaches the filter by itself.
  std::set_terminate([] { RaiseFatalError(); });
  std::signal(SIGABRT, OnAbortSignal);
  // No Windows error box in front of the report; the report is what support asks for.
  SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX);
}
