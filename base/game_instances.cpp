#include <windows.h>

#include "base/game_copies.h"

bool IsGameInstanceRunning(int copy) {
  if (copy < 1 || copy > kGameCopyLimit) return false;
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, GameInstanceMutexName(copy).c_str());
  if (mutex != nullptr) {
    CloseHandle(mutex);
    return true;
  }
  // A copy started elevated holds a mutex that a normal process may not open.
  return GetLastError() == ERROR_ACCESS_DENIED;
}
