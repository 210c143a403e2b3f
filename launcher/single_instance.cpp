#include "launcher/single_instance.h"

void SendLinkToWindow(HWND window, const std::wstring& link) {
  const std::wstring text = link.substr(0, kMaxForwardedLinkChars);
  COPYDATASTRUCT data{};
  data.dwData = kLinkCopyDataMagic;
  data.cbData = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  data.lpData = const_cast<wchar_t*>(text.c_str());
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK | SMTO_ABORTIFHUNG, 5000,
                      &result);
}

bool HandOverToRunningWindow(const std::wstring* link) {
  HWND window = FindWindowW(kWindowClassName, nullptr);
  if (!window) return false;
  if (link) SendLinkToWindow(window, *link);
  ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(window);
  return true;
}
