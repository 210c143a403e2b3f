#include "system/install.h"

#include <windows.h>

#include "launcher/files.h"
#include "launcher/registry.h"
#include "launcher/version.h"

bool IsInstallFolder(const std::wstring& folder) {
  if (folder.empty()) return false;
  return FileExists(JoinPath(folder, kGameExeName)) ||
         FileExists(JoinPath(JoinPath(folder, kStateFolder), kInstalledStateFile));
}

std::wstring RegisteredInstallDir() {
  std::wstring dir = ReadRegistryString(kLauncherRegistryKey, kInstallDirValue);
  if (dir.empty()) return {};
  if (FileExists(JoinPath(dir, kLauncherExeName)) || IsInstallFolder(dir)) return dir;
  return {};
}

std::wstring FindExistingInstall() {
  std::wstring own = ParentPath(GetModulePath());
  if (IsInstallFolder(own)) return NormalizePath(own);
  std::wstring registered = RegisteredInstallDir();
  if (!registered.empty()) return NormalizePath(registered);
  if (IsInstallFolder(kDefaultInstallDir)) return NormalizePath(kDefaultInstallDir);
  const DWORD drives = GetLogicalDrives();
  for (int letter = 0; letter < 26; ++letter) {
    if (!(drives & (1u << letter))) continue;
    const std::wstring root = std::wstring(1, static_cast<wchar_t>(L'A' + letter)) + L":\\";
    if (GetDriveTypeW(root.c_str()) != DRIVE_FIXED) continue;
    const std::wstring candidate = root + L"Talvoreen";
    if (IsInstallFolder(candidate)) return NormalizePath(candidate);
  }
  return {};
}
