// What the launcher window and a second start agree on: the single-instance mutex, the
// window class a second start looks for, the message that asks the window to come to the
// front and the WM_COPYDATA record that carries a join link.
#pragma once

#include <windows.h>

#include <string>

inline constexpr const wchar_t* kInstanceMutexName = L"Local\\Talvoreen.Launcher.{6F1D2C84-3B7A-4E59-A1C0-8D2E9B4F7A63}";
inline constexpr const wchar_t* kWindowClassName = L"TalvoreenLauncherWindow";
inline constexpr ULONG_PTR kLinkCopyDataMagic = 0x54564C4B;
inline constexpr size_t kMaxForwardedLinkChars = 512;
// The most a window takes; a larger hand-over is refused, not cut.
inline constexpr DWORD kMaxForwardedLinkBytes = 2048;
// Sent by a second start before anything else. A window that is not closing brings itself to
// the front (the sender has allowed it to) and answers kBringToFrontAnswer; a closing or
// vanished window answers nothing, and the second start waits for the lock instead.
inline constexpr UINT kBringToFrontMessage = WM_APP + 3;
inline constexpr LRESULT kBringToFrontAnswer = 0x54564C46;

// The link carried by a WM_COPYDATA message, when it is a launcher hand-over: the tag,
// a non-empty even payload of at most 2048 bytes, cut at its first NUL.
bool ReadForwardedLink(const COPYDATASTRUCT* data, std::wstring& link);
