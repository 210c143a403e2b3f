#include <windows.h>

#include "base/format.h"
#include "base/text.h"

std::wstring WindowsErrorText(uint32_t code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (length > 0 && buffer) text.assign(buffer, length);
  if (buffer) LocalFree(buffer);
  if (text.empty()) text = L"Hata " + DecimalText(static_cast<unsigned long long>(code));
  while (!text.empty()) {
    wchar_t c = text.back();
    if (c != L'\n' && c != L'\r' && c != L' ' && c != L'.') break;
    text.pop_back();
  }
  return text;
}

std::wstring WithSystemError(const std::wstring& what, uint32_t code) {
  return WithSystemText(what, WindowsErrorText(code));
}

std::wstring WithSystemError(const std::wstring& what, const std::wstring& place, uint32_t code) {
  return WithSystemText(what, place, WindowsErrorText(code));
}
