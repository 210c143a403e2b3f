// Removes what installing registers in the shell, so that tests of installing and
// uninstalling start from a prefix without it.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/paths.h"
#include "system/shell.h"

inline void RemoveShellRegistration(const std::wstring& desktop, const std::wstring& programs) {
  for (const std::wstring& folder : {desktop, programs}) {
    for (const wchar_t* name :
         {kShortcutName, kLegacyShortcutName, L"Talvoreen Multiplayer.exe", L"Talvoreen Client.exe"}) {
      DeleteFileW(JoinPath(folder, name).c_str());
    }
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, kProtocolKey);
  RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
}
