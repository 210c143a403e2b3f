#include "update/leftovers.h"

#include <windows.h>

#include "launcher/files.h"

void RemoveUpdateLeftovers(const std::wstring& exePath) {
  if (exePath.empty()) return;
  const std::wstring old = exePath + L".old";
  for (int attempt = 0; attempt < 20 && FileExists(old); ++attempt) {
    if (!DeleteFileW(old.c_str())) Sleep(250);
  }
  DeleteFileW((exePath + L".new").c_str());
}
