// One launcher window per logon: a second start finds the window and hands its join link over.
#pragma once

#include <windows.h>

#include <string>

#include "ui/link_handover.h"

// How long a start that finds the lock but no window waits for either: the twin may be
// starting (its window comes) or closing (its lock goes).
inline constexpr DWORD kTwinWaitMs = 10000;

// Sends the link (cut to 512 characters) with WM_COPYDATA; waits at most 5 s for a hung window.
void SendLinkToWindow(HWND window, const std::wstring& link);

// For a second start: lets the running window come to the front, passes the link (when
// present) and reports whether a window took the hand-over. A window that is closing does not.
bool HandOverToRunningWindow(const std::wstring* link);

enum class InstanceClaim { Owned, HandedOver, GaveUp };

// Takes the single-instance lock (Owned, with mutex set; null when the system gave no mutex
// at all, and the window runs without one), or hands over to the running window. While the
// lock is held by a twin without a window, tries again until waitMs have passed (GaveUp).
InstanceClaim ClaimSingleInstance(const std::wstring* link, HANDLE& mutex, DWORD waitMs = kTwinWaitMs);
