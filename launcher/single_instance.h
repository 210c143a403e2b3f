// One launcher window per logon: a second start finds the window and hands its join link over.
#pragma once

#include <windows.h>

#include <string>

#include "ui/link_handover.h"

// Sends the link (cut to 512 characters) with WM_COPYDATA; waits at most 5 s for a hung window.
void SendLinkToWindow(HWND window, const std::wstring& link);

// For a second start: passes the link (when present) to the running window, brings that
// window to the front, and reports whether a window was found.
bool HandOverToRunningWindow(const std::wstring* link);
