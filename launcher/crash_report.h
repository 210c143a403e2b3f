// Crash reports players can send: an unhandled exception or a fatal error on any thread
// writes a small minidump "TALVOREEN\logs\crash-<date>-<time>-<pid>.dmp" beside the log (or
// into the temporary folder when no log folder is known yet), logs one line naming it, and
// ends the process with the exception's code, as Windows would. The five newest reports stay.
// Another thread that faults meanwhile waits for that report; the first exception's code is
// the exit code.
#pragma once

#include <string>

inline constexpr int kCrashReportsKept = 5;

// Installs the handlers for the whole process and prepares everything they need; consoleLine:
// also print the report's path on standard output (headless jobs).
void InstallCrashReporter(bool consoleLine);

// "crash-YYYYMMDD-HHMMSS-<pid>.dmp" for the given local time and process.
std::wstring CrashReportFileName(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                                 unsigned second, unsigned long processId);
