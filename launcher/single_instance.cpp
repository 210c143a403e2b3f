#include "launcher/single_instance.h"

namespace {

constexpr DWORD kRetryMs = 100;
constexpr UINT kHandOverTimeoutMs = 5000;

}  // namespace

bool SendLinkToWindow(HWND window, const std::wstring& link) {
  const std::wstring text = link.substr(0, kMaxForwardedLinkChars);
  COPYDATASTRUCT data{};
  data.dwData = kLinkCopyDataMagic;
  data.cbData = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  data.lpData = const_cast<wchar_t*>(text.c_str());
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK | SMTO_ABORTIFHUNG,
                             kHandOverTimeoutMs, &result) != 0 &&
         result == TRUE;
}

bool HandOverToRunningWindow(const std::wstring* link) {
  HWND window = FindWindowW(kWindowClassName, nullptr);
  if (!window) return false;
  // Only the process the player just started may pass the foreground on; the window then takes
  // it itself, which also works when it runs elevated and our own calls below are ignored.
  DWORD windowProcess = 0;
  GetWindowThreadProcessId(window, &windowProcess);
  if (windowProcess != 0) AllowSetForegroundWindow(windowProcess);
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, kBringToFrontMessage, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, kHandOverTimeoutMs,
                           &answer) ||
      static_cast<LRESULT>(answer) != kBringToFrontAnswer) {
    return false;
  }
  // A window that began closing after it answered refuses the link; the lock it lets go of
  // then passes to this start, which opens with the link.
  if (link && !SendLinkToWindow(window, *link)) return false;
  ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(window);
  return true;
}

InstanceClaim ClaimSingleInstance(const std::wstring* link, HANDLE& mutex, DWORD waitMs) {
  mutex = nullptr;
  const ULONGLONG end = GetTickCount64() + waitMs;
  for (;;) {
    HANDLE created = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
    const DWORD error = GetLastError();
    if (created && error != ERROR_ALREADY_EXISTS) {
      mutex = created;
      return InstanceClaim::Owned;
    }
    // Access denied: a launcher running elevated made the mutex, and its DACL keeps us out
    // (Windows across integrity levels; Wine enforces the DACL alike). It runs all the same.
    if (!created && error != ERROR_ACCESS_DENIED) return InstanceClaim::Owned;
    // Our own handle would keep the name alive after the twin lets it go.
    if (created) CloseHandle(created);
    if (HandOverToRunningWindow(link)) return InstanceClaim::HandedOver;
    if (GetTickCount64() >= end) return InstanceClaim::GaveUp;
    Sleep(kRetryMs);
  }
}
