// Sections: folder acceptance and the guard service; RunElevated; the uninstall worker.
#include "system/uninstall_stages.h"

#include <windows.h>

#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>

#include "base/files.h"
#include "base/format.h"
#include "base/handles.h"
#include "base/install_layout.h"
#include "base/log.h"
#include "base/registry.h"
#include "base/text.h"
#include "base/version.h"
#include "system/install.h"
#include "system/shell.h"
#include "system/uninstall.h"

namespace {

constexpr const wchar_t* kDataFolder = L"TALVOREEN";
constexpr const wchar_t* kScreenshotsFolder = L"TALVOREEN\\screenshots";
constexpr const wchar_t* kSharedDataFolder = L"Talvoreen";
constexpr const wchar_t* kTalvoreenRegistryKey = L"Software\\Talvoreen";
constexpr DWORD kElevatedWaitMs = 120000;

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  return std::wstring(buffer, length);
}

bool GuardServiceExists() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return false;
  SC_HANDLE service = OpenServiceW(manager, kGuardServiceName, SERVICE_QUERY_STATUS);
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service != nullptr;
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)) && path) result = path;
  CoTaskMemFree(path);
  return result;
}

bool HasAnyEntry(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(JoinPath(folder, L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool any = false;
  do {
    const std::wstring name = data.cFileName;
    any = name != L"." && name != L"..";
  } while (!any && FindNextFileW(find, &data));
  FindClose(find);
  return any;
}

// Only our own shortcuts and desktop launcher copies; a player's file of the same name stays.
void RemoveShortcuts();
void RemoveRegistryEntries();

void AfterStep(UninstallContext& context, int step) {
  if (context.afterStep) context.afterStep(kUninstallSteps[step]);
}

// The marker is written first and goes last, after the launcher: whatever a kill leaves, the
// folder is still accepted and the marker still names the game files left. The registration
// goes before the launcher, so that no uninstall entry is ever left pointing to nothing.
void RemoveInstallFolder(UninstallContext& context) {
  const std::wstring& d = context.installDir;
  // A folder accepted for the launcher alone gets no marker: the marker would make the core
  // treat it as an installation on the next run.
  const bool holdsInstallation = HoldsInstallation(d);
  if (holdsInstallation) WriteUninstallMarker(d);
  AfterStep(context, 0);
  if (holdsInstallation) {
    const std::wstring gtaFolder = ReadRegistryString(kCommonRegistryKey, kGtaFolderValue);
    std::wstring error;
    if (!UninstallCore(d, gtaFolder, context.removedCount, error) && context.failures.empty()) {
      context.failures = error;
    }
  }
  RemoveTree(JoinPath(d, kGtaCopyFolder), context.removedCount, context.failures);
  RemoveTree(JoinPath(d, kStateFolder), context.removedCount, context.failures);
  const std::wstring writeTest = JoinPath(d, kWriteTestName);
  for (const std::wstring& path : {writeTest, writeTest + L".tmp"}) {
    RemoveTree(path, context.removedCount, context.failures);
  }
  AfterStep(context, 1);

  RemoveShortcuts();
  RemoveRegistryEntries();
  AfterStep(context, 2);
  const std::wstring launcher = JoinPath(d, kLauncherExeName);
  for (const std::wstring& path : {launcher + L".old", launcher + L".new", CopyScratchPath(launcher)}) {
    RemoveTree(path, context.removedCount, context.failures);
  }

  const std::wstring screenshots = JoinPath(d, kScreenshotsFolder);
  if (DirectoryExists(screenshots) && HasAnyEntry(screenshots)) {
    context.screenshotsDir = screenshots;
  } else {
    // The core keeps the screenshots folder even when it is empty, and with it "TALVOREEN";
    // an empty one holds nothing of the player's and must not keep the install folder alive.
    RemoveDirectoryW(screenshots.c_str());
    RemoveDirectoryW(JoinPath(d, kDataFolder).c_str());
  }
  RemoveTree(launcher, context.removedCount, context.failures);
  AfterStep(context, 3);
  // Kept while anything failed: the next run still knows what to remove.
  if (context.failures.empty()) DeleteFileW(JoinPath(d, kUninstallMarkerName).c_str());
  RemoveDirectoryW(d.c_str());
}

void RemoveShortcuts() {
  for (const std::wstring& folder : {DesktopFolder(), ProgramsFolder()}) {
    if (folder.empty()) continue;
    for (const wchar_t* name : {kShortcutName, kLegacyShortcutName}) {
      const std::wstring link = JoinPath(folder, name);
      if (FileExists(link) && ShortcutPointsToLauncher(link)) DeleteFileW(link.c_str());
    }
  }
  const std::wstring desktop = DesktopFolder();
  if (desktop.empty()) return;
  for (const wchar_t* name : {L"Talvoreen Multiplayer.exe", L"Talvoreen Client.exe"}) {
    const std::wstring copy = JoinPath(desktop, name);
    if (FileExists(copy) && IsLauncherExecutable(copy)) DeleteFileW(copy.c_str());
  }
}

void RemoveRegistryEntries() {
  for (const wchar_t* key : {kUninstallKey, kProtocolKey, kTalvoreenRegistryKey}) {
    RegDeleteTreeW(HKEY_CURRENT_USER, key);
  }
}

}  // namespace

std::wstring AcceptedUninstallFolder(const std::wstring& folder) {
  const std::wstring d = NormalizePath(folder);
  if (d.size() <= 3) return std::wstring();
  if (IsInstallFolder(d) || FileExists(JoinPath(d, kLauncherExeName)) || HasUninstallMarker(d)) return d;
  return std::wstring();
}

std::wstring FindUninstallFolder() {
  const std::wstring running = GetModulePath();
  const std::wstring own = ParentPath(running);
  if (IsInstallFolder(own) || HasUninstallMarker(own)) return NormalizePath(own);
  if (const std::wstring registered = RegisteredInstallDir(); !registered.empty()) return NormalizePath(registered);
  // A copy of another name (the temporary one of stage 2, a download) proves nothing.
  if (EqualsIgnoreCase(running, JoinPath(own, kLauncherExeName))) return AcceptedUninstallFolder(own);
  return std::wstring();
}

std::wstring InstalledGuardExecutable() {
  wchar_t programFiles[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, SHGFP_TYPE_CURRENT, programFiles))) {
    return std::wstring();
  }
  return JoinPath(JoinPath(programFiles, kGuardProgramFolder), kGuardExeName);
}

void RemoveGuardService(const std::wstring& installDir) {
  const std::wstring installed = InstalledGuardExecutable();
  if (!GuardServiceExists() && !(!installed.empty() && FileExists(installed))) return;

  std::wstring executable;
  std::wstring tempCopy;
  const std::wstring ownCopy =
      installDir.empty() ? std::wstring() : JoinPath(JoinPath(installDir, kDataFolder), kGuardExeName);
  if (!ownCopy.empty() && FileExists(ownCopy)) {
    executable = ownCopy;
  } else {
    // The installed guard removes its own folder; it runs from a copy so that it can.
    const std::wstring temp = TempFolder();
    if (temp.empty() || installed.empty()) return;
    tempCopy = JoinPath(temp, L"TalvoreenGuard-Uninstall-" + std::to_wstring(GetCurrentProcessId()) + L".exe");
    if (!CopyFileW(installed.c_str(), tempCopy.c_str(), FALSE)) return;
    executable = tempCopy;
  }

  unsigned long exitCode = 0;
  unsigned long errorCode = 0;
  if (!RunElevated(executable, L"--uninstall", exitCode, errorCode)) {
    LogLine(L"guard service not removed: " + WindowsErrorText(errorCode));
  } else if (exitCode != 0) {
    LogLine(L"guard service removal failed: " + WindowsErrorText(exitCode));
  }
  if (!tempCopy.empty()) DeleteFileW(tempCopy.c_str());
}

bool RunElevated(const std::wstring& executable, const std::wstring& parameters, unsigned long& exitCode,
                 unsigned long& errorCode) {
  exitCode = STILL_ACTIVE;
  errorCode = 0;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.hwnd = GetActiveWindow();
  info.lpVerb = L"runas";
  info.lpFile = executable.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  if (!ShellExecuteExW(&info)) {
    errorCode = GetLastError();
    return false;
  }
  UniqueHandle process(info.hProcess);
  if (!process.Valid()) {
    errorCode = ERROR_INVALID_HANDLE;
    return false;
  }
  WaitForSingleObject(process.Get(), kElevatedWaitMs);
  DWORD code = STILL_ACTIVE;
  if (GetExitCodeProcess(process.Get(), &code)) exitCode = code;
  return true;
}

void RunUninstallWorker(UninstallContext& context) {
  RemoveGuardService(context.installDir);
  if (!context.installDir.empty()) RemoveInstallFolder(context);
  // Again after the files: the launcher a shortcut points to is gone by now, and a folder-less
  // run has not removed them yet.
  RemoveShortcuts();
  RemoveRegistryEntries();
  const std::wstring programData = KnownFolder(FOLDERID_ProgramData);
  if (!programData.empty()) {
    RemoveTree(JoinPath(programData, kSharedDataFolder), context.removedCount, context.failures);
  }
  context.done.store(true);
}

void WriteProgressText(UninstallContext& context) {
  std::swprintf(context.progressText, sizeof(context.progressText) / sizeof(context.progressText[0]),
                L"%zu dosya silindi", static_cast<size_t>(context.removedCount.load()));
}
