// Crash reports players can send: an unhandled exception or a fatal error on any thread
// writes a small minidump "TALVOREEN\logs\crash-<date>-<time>-<pid>.dmp" beside the log (or
// into the temporary folder when no log folder is known yet), logs one line naming it, and
// ends the process with the exception's code, as Windows would. The five newest reports stay.
// Another thread that faults meanwhile waits for that report; the first exception's code is
// the exit code.
//
// The dump is written by a helper process (this executable with kCrashDumpWriterOption)
// that reads the crashed process from outside: it needs none of the crashed process's locks,
// and its own watchdog ends the crashed process when the dump does not finish in time, even
// with every thread of it suspended. Starting the helper happens on a thread made at
// start-up with a stack of its own, so a thread that overflowed its stack still gets a report.
#pragma once

#include <string>
#include <vector>

inline constexpr int kCrashReportsKept = 5;
inline constexpr const wchar_t* kCrashDumpWriterOption = L"--crash-dump";

// Installs the handlers for the whole process and prepares everything they need; consoleLine:
// also print the report's path on standard output (headless jobs). writerCommand: the command
// line, without arguments, that runs RunCrashDumpWriter (default: this executable with
// kCrashDumpWriterOption).
void InstallCrashReporter(bool consoleLine, const std::wstring& writerCommand = std::wstring());

// The helper process's work, given the arguments after the writer command. Exit code 0 when
// the report was written.
int RunCrashDumpWriter(const std::vector<std::wstring>& args);

// "crash-YYYYMMDD-HHMMSS-<pid>.dmp" for the given local time and process.
std::wstring CrashReportFileName(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                                 unsigned second, unsigned long processId);
