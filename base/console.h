// Standard output of a launcher run without a window. The launcher is a GUI program, so a
// job typed at a cmd.exe or PowerShell prompt gets no standard output handle; it then writes
// to the console of the program that started it.
#pragma once

#include <string>

// The text + LF in one write: UTF-8 to a redirected file or pipe (exactly as written there
// always), wide text to a console so that Turkish letters show whatever its code page. With
// no usable handle it attaches to the parent's console once; without any console nothing is
// written.
void WriteConsoleLine(const std::wstring& text);

// The same on standard error: what a person at a prompt should see but a script reading the
// job's standard output must not (the build's signing key).
void WriteConsoleNote(const std::wstring& text);

// For the crash report: chooses standard output now, so that WriteConsoleLineWithoutLock
// later takes no lock and allocates nothing; that writes nothing before this ran.
void PrepareConsoleLineWithoutLock();
void WriteConsoleLineWithoutLock(const wchar_t* text);
