// One launcher window per logon: a second start finds the window and hands its join link over.
#pragma once

#include <windows.h>

#include <string>

#include "ui/link_handover.h"

// How long a start that finds the lock but no window waits for either: the twin may be
// starting (its window comes) or closing (its lock goes).
inline constexpr DWORD kTwinWaitMs = 10000;

// Sends the link (cut to 512 characters) with WM_COPYDATA; waits at most 5 s for a hung window.
// True only when the window accepted it.
bool SendLinkToWindow(HWND window, const std::wstring& link);

// For a second start: lets the running window come to the front, passes the link (when
// present) and reports whether a window took the hand-over, link included. A window that is
// closing does not.
bool HandOverToRunningWindow(const std::wstring* link);

enum class InstanceClaim { Owned, HandedOver, GaveUp };

// Shown by a start that gave up: the lock is held but no window answered in time.
inline constexpr const wchar_t* kTwinNotAnsweringText =
    L"Talvoreen Launcher zaten açık, ancak yanıt vermiyor. Birkaç saniye sonra tekrar dene.";

// Takes the single-instance lock (Owned, with mutex set; null when the system gave no mutex
// at all, and the window runs without one), or hands over to the running window. While the
// lock is held by a twin without a window, tries again until waitMs have passed (GaveUp).
InstanceClaim ClaimSingleInstance(const std::wstring* link, HANDLE& mutex, DWORD waitMs = kTwinWaitMs);
