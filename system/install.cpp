#include "system/install.h"

#include <windows.h>

#include <shobjidl.h>

#include <vector>

#include "base/files.h"
#include "base/format.h"
#include "base/registry.h"
#include "base/text.h"
#include "base/version.h"
#include "system/shell.h"

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

std::wstring CopyScratchPath(const std::wstring& target) { return target + L".copy.part"; }

bool CopyFileSafely(const std::wstring& source, const std::wstring& target) {
  const std::wstring staged = CopyScratchPath(target);
  if (!CopyFileUnmarked(source, staged)) return false;
  if (MoveFileRetrying(staged, target, MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileRetrying(staged);
  return false;
}

bool InstallIntoFolder(const std::wstring& chosen, std::wstring& launcherPath, std::wstring& error) {
  // "D:" would otherwise resolve against the current folder of D: and install wherever that is.
  const std::wstring folder = IsRootOrDriveRelativeFolder(chosen) ? std::wstring() : NormalizePath(chosen);
  if (folder.size() <= 3 || folder.find(L';') != std::wstring::npos) {
    error = kUnusableFolderText;
    return false;
  }
  if (!CreateDirectoryTree(folder)) {
    error = L"Klasör oluşturulamadı. Yönetici izni gerektirmeyen bir yer seç (örn. C:\\Talvoreen)";
    return false;
  }
  const std::wstring probe = JoinPath(folder, kWriteTestName);
  if (!WriteFileAtomic(probe, "ok")) {
    error = L"Bu klasöre yazma izni yok. Başka bir klasör seç (örn. C:\\Talvoreen)";
    return false;
  }
  DeleteFileW(probe.c_str());

  launcherPath = JoinPath(folder, kLauncherExeName);
  const std::wstring running = GetModulePath();
  if (!EqualsIgnoreCase(running, launcherPath) && !CopyFileUnmarked(running, launcherPath)) {
    error = WithSystemError(L"Launcher kopyalanamadı", GetLastError());
    return false;
  }
  if (!WriteRegistryString(kLauncherRegistryKey, kInstallDirValue, folder)) {
    error = L"Kurulum bilgisi kaydedilemedi";
    return false;
  }
  RegisterInstallation(folder, true);
  return true;
}

void RepairRegistration(const std::wstring& installDir) {
  const std::wstring recorded = ReadRegistryString(kLauncherRegistryKey, kInstallDirValue);
  const bool changed = recorded.empty() || !EqualsIgnoreCase(NormalizePath(recorded), installDir);
  const std::wstring launcher = JoinPath(installDir, kLauncherExeName);
  const std::wstring running = GetModulePath();
  if (!FileExists(launcher) && !EqualsIgnoreCase(running, launcher)) CopyFileSafely(running, launcher);
  if (!changed) return;
  WriteRegistryString(kLauncherRegistryKey, kInstallDirValue, installDir);
  RegisterInstallation(installDir, FileExists(launcher));
}

void MigrateDesktopLaunchers() {
  const std::wstring registered = RegisteredInstallDir();
  const std::wstring installed = registered.empty() ? std::wstring() : JoinPath(registered, kLauncherExeName);
  const std::wstring desktop = DesktopFolder();
  const std::wstring running = GetModulePath();
  std::vector<std::wstring> desktopCopies;
  if (!desktop.empty()) {
    desktopCopies = {JoinPath(desktop, L"Talvoreen Multiplayer.exe"), JoinPath(desktop, L"Talvoreen Client.exe")};
  }
  bool runningIsDesktopCopy = false;
  for (const auto& copy : desktopCopies) runningIsDesktopCopy = runningIsDesktopCopy || EqualsIgnoreCase(running, copy);
  if (!(runningIsDesktopCopy || (!installed.empty() && EqualsIgnoreCase(running, installed)))) return;

  for (const auto& copy : desktopCopies) {
    if (!EqualsIgnoreCase(copy, running) && FileExists(copy) && IsLauncherExecutable(copy)) DeleteFileW(copy.c_str());
  }
  const std::wstring programs = ProgramsFolder();
  if (!desktop.empty()) {
    const std::wstring legacy = JoinPath(desktop, kLegacyShortcutName);
    if (FileExists(legacy) && ShortcutPointsToLauncher(legacy)) DeleteFileW(legacy.c_str());
  }
  if (!programs.empty()) {
    const std::wstring legacy = JoinPath(programs, kLegacyShortcutName);
    if (FileExists(legacy) && ShortcutPointsToLauncher(legacy) && DeleteFileW(legacy.c_str()) && !registered.empty() &&
        FileExists(installed)) {
      CreateShortcut(JoinPath(programs, kShortcutName), installed, registered);
    }
  }
  if (runningIsDesktopCopy && !registered.empty()) {
    if (!FileExists(installed)) {
      CopyFileSafely(running, installed);
    } else {
      const std::wstring version = FileVersionText(installed);
      if (!version.empty() && CompareVersions(Utf8FromWide(version), kLauncherVersion) < 0) {
        CopyFileSafely(running, installed);
      }
    }
  }
  EnsureDesktopShortcut(installed, registered);
  WriteUninstallEntry(registered);
  RegisterUrlProtocol(registered);
}

bool ChooseInstallFolder(void* ownerWindow, const std::wstring& proposed, std::wstring& chosen) {
  IFileOpenDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              reinterpret_cast<void**>(&dialog)))) {
    return false;
  }
  bool ok = false;
  DWORD options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  dialog->SetTitle(L"Talvoreen'ın kurulacağı klasörü seç");
  std::wstring start = proposed;
  while (!start.empty() && !DirectoryExists(start)) start = ParentPath(start);
  IShellItem* folder = nullptr;
  if (!start.empty() && SUCCEEDED(SHCreateItemFromParsingName(start.c_str(), nullptr, IID_IShellItem,
                                                              reinterpret_cast<void**>(&folder)))) {
    dialog->SetFolder(folder);
    folder->Release();
  }
  if (SUCCEEDED(dialog->Show(static_cast<HWND>(ownerWindow)))) {
    IShellItem* result = nullptr;
    if (SUCCEEDED(dialog->GetResult(&result))) {
      wchar_t* path = nullptr;
      if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
        chosen = path;
        ok = true;
      }
      CoTaskMemFree(path);
      result->Release();
    }
  }
  dialog->Release();
  return ok;
}
