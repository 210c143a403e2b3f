// One launcher window per logon: the mutex, the window class a second start looks for and
// the WM_COPYDATA hand-over of a join link.
#pragma once

#include <windows.h>

#include <string>

inline constexpr const wchar_t* kInstanceMutexName = L"Local\\Talvoreen.Launcher.{6F1D2C84-3B7A-4E59-A1C0-8D2E9B4F7A63}";
inline constexpr const wchar_t* kWindowClassName = L"TalvoreenLauncherWindow";
inline constexpr ULONG_PTR kLinkCopyDataMagic = 0x54564C4B;
inline constexpr size_t kMaxForwardedLinkChars = 512;
// The most a window takes; a larger hand-over is refused, not cut.
inline constexpr DWORD kMaxForwardedLinkBytes = 2048;

// Sends the link (cut to 512 characters) with WM_COPYDATA; waits at most 5 s for a hung window.
void SendLinkToWindow(HWND window, const std::wstring& link);

// The link carried by a WM_COPYDATA message, when it is a launcher hand-over: the tag,
// a non-empty even payload of at most 2048 bytes, cut at its first NUL.
bool ReadForwardedLink(const COPYDATASTRUCT* data, std::wstring& link);

// For a second start: passes the link (when present) to the running window, brings that
// window to the front, and reports whether a window was found.
bool HandOverToRunningWindow(const std::wstring* link);
