#include "base/console.h"

#include <windows.h>

#include <mutex>

#include "base/text.h"

namespace {

enum class Sink { None, Bytes, Console };

struct Output {
  HANDLE handle = nullptr;
  Sink sink = Sink::None;
};

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

Output ChooseOutput(DWORD standardHandle) {
  HANDLE out = GetStdHandle(standardHandle);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    if (IsConsole(out)) return {out, Sink::Console};
    const DWORD type = GetFileType(out);
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) return {out, Sink::Bytes};
    // A character device such as NUL takes bytes as it always did. A console handle that a
    // GUI process inherited without being attached to that console takes nothing, and is
    // no better than none.
    DWORD written = 0;
    if (type == FILE_TYPE_CHAR && WriteFile(out, "", 0, &written, nullptr)) return {out, Sink::Bytes};
  }
  // Access denied: this process has a console already (Wine gives a GUI program its
  // parent's), which serves as well.
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) return {};
  // The console is reached through its own name, not through the standard handles this
  // process started without.
  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return {};
  return {console, Sink::Console};
}

void WriteLine(const Output& output, const std::wstring& text) {
  DWORD written = 0;
  switch (output.sink) {
    case Sink::None:
      return;
    case Sink::Bytes: {
      const std::string bytes = Utf8FromWide(text) + "\n";
      WriteFile(output.handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      return;
    }
    case Sink::Console: {
      const std::wstring line = text + L"\n";
      WriteConsoleW(output.handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      return;
    }
  }
}

const Output& StandardOutput() {
  static std::once_flag chosen;
  static Output output;
  std::call_once(chosen, [] { output = ChooseOutput(STD_OUTPUT_HANDLE); });
  return output;
}

// A copy of the chosen output for the crash report, readable without the once-flag's lock.
Output g_preparedOutput;

}  // namespace

void WriteConsoleLine(const std::wstring& text) { WriteLine(StandardOutput(), text); }

void PrepareConsoleLineWithoutLock() { g_preparedOutput = StandardOutput(); }

void WriteConsoleLineWithoutLock(const wchar_t* text) {
  char bytes[4096];
  DWORD written = 0;
  switch (g_preparedOutput.sink) {
    case Sink::None:
      return;
    case Sink::Bytes: {
      const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes) - 1, nullptr, nullptr);
      if (size <= 0) return;
      bytes[size - 1] = '\n';
      WriteFile(g_preparedOutput.handle, bytes, static_cast<DWORD>(size), &written, nullptr);
      return;
    }
    case Sink::Console: {
      wchar_t line[2048];
      int length = 0;
      while (text[length] && length < 2046) line[length] = text[length], ++length;
      line[length++] = L'\n';
      WriteConsoleW(g_preparedOutput.handle, line, static_cast<DWORD>(length), &written, nullptr);
      return;
    }
  }
}

void WriteConsoleNote(const std::wstring& text) {
  static std::once_flag chosen;
  static Output output;
  std::call_once(chosen, [] { output = ChooseOutput(STD_ERROR_HANDLE); });
  WriteLine(output, text);
}
