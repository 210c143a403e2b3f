// run_with_deadline.exe <seconds> <log file> <program>: runs one test program of the bundle with
// its output in the log, and ends it with every process it started once the deadline passes.
// Exit code: the program's own, kPastDeadline when it was ended, kCannotRun when it could not be
// started. Crash dialogs are turned off for the program and what it starts, so that a crash
// ends the program instead of waiting for a click that never comes.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

constexpr DWORD kPastDeadline = 258;  // WAIT_TIMEOUT, as run-tests.cmd reads it
constexpr DWORD kCannotRun = 9009;    // cmd's own code for a program it cannot find

void AppendToLog(const std::wstring& log, const std::string& line) {
  HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    fwprintf(stderr, L"usage: run_with_deadline <seconds> <log file> <program>\n");
    return static_cast<int>(kCannotRun);
  }
  const unsigned long seconds = wcstoul(argv[1], nullptr, 10);
  const std::wstring log = argv[2], program = argv[3];
  // Inherited by every process started from here on: no "program has stopped working" box, no
  // box for a missing disk. Windows Error Reporting's own dialog is turned off by run-tests.cmd.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // WerSetFlags(WER_FAULT_REPORTING_NO_UI), looked up since it is Vista's and this header set
  // lacks a usable werapi.h.
  using WerSetFlagsFn = HRESULT(WINAPI*)(DWORD);
  constexpr DWORD kWerFaultReportingNoUi = 0x20;
  if (auto set = reinterpret_cast<WerSetFlagsFn>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WerSetFlags")))) {
    set(kWerFaultReportingNoUi);
  }

  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE output = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) return static_cast<int>(kCannotRun);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = output;
  si.hStdError = output;
  PROCESS_INFORMATION pi{};
  std::wstring line = L"\"" + program + L"\"";
  // The job holds the program and its children; closing its last handle ends them all, so a
  // test that leaves a helper running cannot hold the run either.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job) SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi)) {
    const DWORD error = GetLastError();
    CloseHandle(output);
    AppendToLog(log, "run-tests: cannot start the program (error " + std::to_string(error) + ")\r\n");
    return static_cast<int>(kCannotRun);
  }
  CloseHandle(output);
  // Windows 7 refuses a second job for a process already in one (a CI runner's own job without
  // breakaway); the program then runs outside it and only it is ended at the deadline.
  const bool inJob = job && AssignProcessToJobObject(job, pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  const DWORD limitMs = seconds >= 4000000 ? INFINITE - 1 : static_cast<DWORD>(seconds * 1000);
  DWORD code = 0;
  if (WaitForSingleObject(pi.hProcess, limitMs) == WAIT_TIMEOUT) {
    if (inJob) TerminateJobObject(job, kPastDeadline);
    TerminateProcess(pi.hProcess, kPastDeadline);
    WaitForSingleObject(pi.hProcess, 30000);
    AppendToLog(log, "\r\nrun-tests: past its deadline of " + std::to_string(seconds) +
                         " s, the program was ended (TALVOREEN_TEST_DEADLINE sets the deadline)\r\n");
    code = kPastDeadline;
  } else if (!GetExitCodeProcess(pi.hProcess, &code)) {
    code = kCannotRun;
  }
  CloseHandle(pi.hProcess);
  if (job) CloseHandle(job);
  return static_cast<int>(code);
}
