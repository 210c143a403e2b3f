#include "sync/sync_kill_points.h"

#include <windows.h>

#include <cwchar>

void EndAtSyncKillPoint(const wchar_t* point) {
#ifdef TALVOREEN_RELEASE_BUILD
  (void)point;
#else
  wchar_t wanted[64] = {};
  const DWORD length = GetEnvironmentVariableW(L"TALVOREEN_SYNC_KILL_AT", wanted, 64);
  if (length > 0 && length < 64 && std::wcscmp(wanted, point) == 0) TerminateProcess(GetCurrentProcess(), 137);
#endif
}
