// Stands in for the guard's own uninstaller. The test steers it through its environment:
// TV_GUARD_RECORD - file to which it appends its own path and its arguments, one line each;
// TV_GUARD_HOLD   - name of an event it waits for (at most 90 s) before ending;
// TV_GUARD_EXIT   - the exit code, 0 when absent.
#include <windows.h>

#include <shellapi.h>

#include <string>

namespace {

std::wstring Variable(const wchar_t* name) {
  wchar_t buffer[1024] = {};
  const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
  return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &bytes[0], size, nullptr, nullptr);
  return bytes;
}

void Record(const std::wstring& file) {
  wchar_t self[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring arguments;
  int argc = 0;
  if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    for (int i = 1; i < argc; ++i) arguments += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
    LocalFree(argv);
  }
  const std::string text = Utf8(std::wstring(self) + L"\n" + arguments + L"\n");
  HANDLE out = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(out);
}

}  // namespace

int main() {
  const std::wstring record = Variable(L"TV_GUARD_RECORD");
  if (!record.empty()) Record(record);
  const std::wstring hold = Variable(L"TV_GUARD_HOLD");
  if (!hold.empty()) {
    if (HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, hold.c_str())) {
      WaitForSingleObject(event, 90000);
      CloseHandle(event);
    }
  }
  const std::wstring code = Variable(L"TV_GUARD_EXIT");
  return code.empty() ? 0 : _wtoi(code.c_str());
}
