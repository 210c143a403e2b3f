#include "launcher/crash_report.h"

#include <windows.h>

#include <dbghelp.h>
#include <tlhelp32.h>

#include <csignal>
#include <cstdint>
#include <cwchar>
#include <exception>

#include "base/console.h"
#include "base/files.h"
#include "base/log.h"

namespace {

// What a fatal C++ error (std::terminate, abort) raises so that it reaches the same filter
// as a fault. An application-defined code (customer bit set).
constexpr DWORD kFatalErrorCode = 0xE0545646;
// How long the writer may take for the dump; past it the crashed process ends without one.
constexpr DWORD kDumpDeadlineMs = 30000;
// Beyond the deadline: for starting the writer and renaming its file, then for the crashed
// thread's own wait, then for another faulting thread's wait for the process to end.
constexpr DWORD kWriterStartMs = 5000;
constexpr DWORD kReportWaitMs = 10000;
constexpr DWORD kOtherReportWaitMs = 15000;
constexpr size_t kPathCapacity = 1200;
// The reporting thread's stack: it starts a process and formats paths, with room to spare.
constexpr SIZE_T kReporterStack = 256 * 1024;
// What a thread may still use of its stack after overflowing it (where the system offers it).
constexpr ULONG kStackGuarantee = 32 * 1024;

// Everything the handlers need is prepared here at start-up: a crashed process may hold the
// heap's lock, the log's lock or a once-flag, and the handlers take none of them.
bool g_consoleLine = false;
volatile LONG g_reportingThread = 0;  // the faulting thread being reported, 0 while none is
volatile LONG g_reportCode = 0;       // that thread's exception code
EXCEPTION_POINTERS* volatile g_exception = nullptr;
volatile DWORD g_crashedThread = 0;
HANDLE g_wake = nullptr;  // set by the faulting thread
HANDLE g_done = nullptr;  // set by the reporting thread once the report is finished or given up
DWORD g_reporterThreadId = 0;
DWORD g_deadlineMs = kDumpDeadlineMs;
unsigned long g_writerTestMode = 0;  // test hooks of the writer: 1 hangs, 2 dies mid-dump
wchar_t g_writerCommand[kPathCapacity];
wchar_t g_command[kPathCapacity * 3 + 128];
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

// The thread that starts the writer and reports; made at start-up with a stack of its own.
DWORD WINAPI ReportWhenWoken(void*) {
  // Idle for the life of the process: only a crash wakes it, and the process ends after.
  WaitForSingleObject(g_wake, INFINITE);
  const wchar_t* folder = ReportFolder();
  SYSTEMTIME now{};
  GetLocalTime(&now);
  g_reportPath[0] = L'\0';
  bool named = Append(g_reportPath, kPathCapacity, folder) && Append(g_reportPath, kPathCapacity, L"\\");
  if (named) FormatReportName(g_reportPath, kPathCapacity, now, GetCurrentProcessId());
  g_scratchPath[0] = L'\0';
  named = named && Append(g_scratchPath, kPathCapacity, g_reportPath) && Append(g_scratchPath, kPathCapacity, L".part");

  // The dump suspends every thread of this process, this one too, and a writer that dies
  // before it resumes them (killed by an antivirus, or crashing itself) would leave the process
  // suspended for good, holding the single-instance lock. So the process goes into a job that
  // ends it when its last handle closes, and the writer takes that handle over: whatever way
  // the writer ends, the job's end follows, unless the writer let it go after its dump. A
  // process whose job refuses a nested one keeps only the writer's own watchdog.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ||
        !AssignProcessToJobObject(job, GetCurrentProcess())) {
      CloseHandle(job);
      job = nullptr;
    }
  }

  // <writer> <pid> <thread> <exception pointers> <code> <deadline ms> <test mode> <job>
  // "<scratch>" "<report>"
  const size_t capacity = sizeof(g_command) / sizeof(g_command[0]);
  g_command[0] = L'\0';
  named = named && Append(g_command, capacity, g_writerCommand);
  const unsigned long numbers[] = {GetCurrentProcessId(), static_cast<unsigned long>(g_crashedThread),
                                   static_cast<unsigned long>(reinterpret_cast<uintptr_t>(g_exception)),
                                   static_cast<unsigned long>(g_reportCode), g_deadlineMs, g_writerTestMode,
                                   static_cast<unsigned long>(reinterpret_cast<uintptr_t>(job))};
  for (unsigned long number : numbers) {
    named = named && Append(g_command, capacity, L" ");
    if (named) AppendNumber(g_command, capacity, number, 0);
  }
  named = named && Append(g_command, capacity, L" \"") && Append(g_command, capacity, g_scratchPath) &&
          Append(g_command, capacity, L"\" \"") && Append(g_command, capacity, g_reportPath) &&
          Append(g_command, capacity, L"\"");

  bool written = false;
  if (named) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION writer{};
    if (CreateProcessW(nullptr, g_command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                       &writer)) {
      CloseHandle(writer.hThread);
      DWORD exitCode = 1;
      written = WaitForSingleObject(writer.hProcess, g_deadlineMs + kWriterStartMs) == WAIT_OBJECT_0 &&
                GetExitCodeProcess(writer.hProcess, &exitCode) && exitCode == 0 &&
                GetFileAttributesW(g_reportPath) != INVALID_FILE_ATTRIBUTES;
      if (!written) TerminateProcess(writer.hProcess, 1);
      CloseHandle(writer.hProcess);
    }
  }
  if (!written && named) DeleteFileW(g_scratchPath);

  g_line[0] = L'\0';
  const size_t lineCapacity = sizeof(g_line) / sizeof(g_line[0]);
  Append(g_line, lineCapacity, L"crash: exception ");
  AppendHex(g_line, lineCapacity, static_cast<unsigned long>(g_reportCode));
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
  SetEvent(g_done);
  return 0;
}

// Runs on the faulting thread, perhaps with almost no stack left: it only hands the crash to
// the reporting thread and waits for it, with a bound.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception && exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode : kFatalErrorCode;
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  const LONG reporter = InterlockedCompareExchange(&g_reportingThread, self, 0);
  if (reporter != 0) {
    // Another thread's report is under way and ends the process with its code; neither the
    // faulting thread itself nor the thread that reports can wait for that report.
    if (reporter != self && static_cast<DWORD>(self) != g_reporterThreadId) {
      WaitForSingleObject(GetCurrentProcess(), g_deadlineMs + kOtherReportWaitMs);
    }
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(g_reportCode));
    return EXCEPTION_EXECUTE_HANDLER;
  }
  InterlockedExchange(&g_reportCode, static_cast<LONG>(code));
  g_exception = exception;
  g_crashedThread = static_cast<DWORD>(self);
  if (g_wake && g_done && SetEvent(g_wake)) WaitForSingleObject(g_done, g_deadlineMs + kReportWaitMs);
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

// The writer's watchdog: past the deadline the crashed process ends, whatever the dump does
// (a writer that hangs may have left every thread of it suspended, so it cannot end itself).
struct WriterWatch {
  HANDLE finished = nullptr;
  HANDLE target = nullptr;
  DWORD deadlineMs = 0;
  UINT code = 0;
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring scratch;
};

DWORD WINAPI WatchWriter(void* parameter) {
  WriterWatch& watch = *static_cast<WriterWatch*>(parameter);
  if (WaitForSingleObject(watch.finished, watch.deadlineMs) == WAIT_OBJECT_0) return 0;
  // The scratch file goes first, so that nothing is left once the crashed process has ended.
  CloseHandle(watch.file);
  DeleteFileW(watch.scratch.c_str());
  TerminateProcess(watch.target, watch.code);
  TerminateProcess(GetCurrentProcess(), 2);
  return 0;
}

// Lets the crashed process's job go without ending it: the dump is over and the process has
// resumed, to end itself once its report is logged.
struct JobRelease {
  HANDLE job = nullptr;
  ~JobRelease() {
    if (!job) return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION none{};
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &none, sizeof(none));
    CloseHandle(job);
  }
};

// Test hook: stands for a dump that never returns after suspending the crashed process.
void SuspendThreadsOf(DWORD processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != processId) continue;
    if (HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) {
      SuspendThread(thread);
      CloseHandle(thread);
    }
  }
  CloseHandle(snapshot);
}

}  // namespace

int RunCrashDumpWriter(const std::vector<std::wstring>& args) {
  if (args.size() != 9) return 1;
  const auto number = [&args](size_t i) { return static_cast<DWORD>(std::wcstoul(args[i].c_str(), nullptr, 10)); };
  const DWORD processId = number(0);
  WriterWatch watch;
  watch.deadlineMs = number(4);
  watch.code = number(3);
  watch.scratch = args[7];
  const std::wstring& report = args[8];
  watch.target = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE | PROCESS_TERMINATE |
                                 PROCESS_SUSPEND_RESUME | SYNCHRONIZE,
                             FALSE, processId);
  watch.finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!watch.target || !watch.finished) return 1;
  // Taken over, the crashed process's copy closed: from here the job ends with this process.
  JobRelease job;
  const HANDLE theirs = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(number(6)));
  if (theirs && !DuplicateHandle(watch.target, theirs, GetCurrentProcess(), &job.job, 0, FALSE,
                                 DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE)) {
    job.job = nullptr;
  }
  watch.file = CreateFileW(watch.scratch.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (watch.file == INVALID_HANDLE_VALUE) return 1;
  HANDLE watchdog = CreateThread(nullptr, 64 * 1024, WatchWriter, &watch, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!watchdog) {
    CloseHandle(watch.file);
    DeleteFileW(watch.scratch.c_str());
    return 1;
  }
#ifndef TALVOREEN_RELEASE_BUILD
  if (number(5) == 1 || number(5) == 2) {
    SuspendThreadsOf(processId);
    if (number(5) == 2) TerminateProcess(GetCurrentProcess(), 3);  // as a kill mid-dump would
    WaitForSingleObject(watch.finished, INFINITE);  // never set: only the watchdog ends this
  }
#endif
  MINIDUMP_EXCEPTION_INFORMATION info{};
  info.ThreadId = number(1);
  info.ExceptionPointers = reinterpret_cast<EXCEPTION_POINTERS*>(static_cast<uintptr_t>(number(2)));
  info.ClientPointers = TRUE;  // an address in the crashed process
  const bool dumped = MiniDumpWriteDump(watch.target, processId, watch.file, MiniDumpNormal,
                                        info.ExceptionPointers ? &info : nullptr, nullptr, nullptr) != FALSE &&
                      FlushFileBuffers(watch.file) != FALSE;
  // The dump is done: whatever follows is quick, and the crashed process ends itself.
  SetEvent(watch.finished);
  WaitForSingleObject(watchdog, watch.deadlineMs);
  CloseHandle(watchdog);
  CloseHandle(watch.file);
  // Scratch name first: a report cut short by a kill is never taken for one.
  if (dumped && MoveFileExW(watch.scratch.c_str(), report.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  DeleteFileW(watch.scratch.c_str());
  return 1;
}

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

void InstallCrashReporter(bool consoleLine, const std::wstring& writerCommand) {
  g_consoleLine = consoleLine;
  if (consoleLine) PrepareConsoleLineWithoutLock();
  g_writerCommand[0] = L'\0';
  if (writerCommand.empty()) {
    Append(g_writerCommand, kPathCapacity, L"\"") && Append(g_writerCommand, kPathCapacity, GetModulePath().c_str()) &&
        Append(g_writerCommand, kPathCapacity, L"\" ") && Append(g_writerCommand, kPathCapacity, kCrashDumpWriterOption);
  } else {
    Append(g_writerCommand, kPathCapacity, writerCommand.c_str());
  }
#ifndef TALVOREEN_RELEASE_BUILD
  // Test hook: the writer hangs, and the deadline is this many milliseconds.
  wchar_t hang[16] = {};
  const DWORD hangLength = GetEnvironmentVariableW(L"TALVOREEN_CRASH_DUMP_HANG", hang, 16);
  if (hangLength > 0 && hangLength < 16) {
    g_writerTestMode = 1;
    g_deadlineMs = static_cast<DWORD>(std::wcstoul(hang, nullptr, 10));
  }
  // Test hook: the writer dies mid-dump, with the crashed process suspended.
  if (GetEnvironmentVariableW(L"TALVOREEN_CRASH_DUMP_DIE", hang, 16) > 0) g_writerTestMode = 2;
#endif
  const DWORD n = GetTempPathW(MAX_PATH + 1, g_tempFolder);
  if (n == 0 || n > MAX_PATH) {
    g_tempFolder[0] = L'.';
    g_tempFolder[1] = L'\0';
  } else {
    for (DWORD end = n; end > 3 && (g_tempFolder[end - 1] == L'\\' || g_tempFolder[end - 1] == L'/'); --end) {
      g_tempFolder[end - 1] = L'\0';
    }
  }
  g_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Made now, with a stack of its own: a thread that overflowed its stack cannot start a
  // process, and a crashed process may be unable to make a thread. It lives as long as the
  // process and is never joined.
  if (HANDLE reporter = CreateThread(nullptr, kReporterStack, ReportWhenWoken, nullptr,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, &g_reporterThreadId)) {
    CloseHandle(reporter);
  } else {
    g_wake = nullptr;  // nobody would answer: a crash then ends the process at once
  }
  // Room for the handler on this thread after a stack overflow, where the system has the call.
  using SetGuarantee = BOOL(WINAPI*)(PULONG);
  if (const auto setGuarantee = reinterpret_cast<SetGuarantee>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadStackGuarantee")))) {
    ULONG guarantee = kStackGuarantee;
    setGuarantee(&guarantee);
  }
  SetUnhandledExceptionFilter(OnUnhandledException);
  // An exception that leaves a thread, or abort(), never reaches the filter by itself.
  std::set_terminate([] { RaiseFatalError(); });
  std::signal(SIGABRT, OnAbortSignal);
  // No Windows error box in front of the report; the report is what support asks for. The
  // game is started without it (StartProgram), so that its own crashes reach Windows.
  SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX);
}
