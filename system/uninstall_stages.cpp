// Sections: folder acceptance and the guard service; RunElevated; the uninstall worker.
#include "system/uninstall_stages.h"

#include <windows.h>

#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <chrono>
#include <cwchar>

#include "base/files.h"
#include "base/format.h"
#include "base/handles.h"
#include "base/install_layout.h"
#include "base/log.h"
#include "base/registry.h"
#include "base/text.h"
#include "base/version.h"
#include "system/authenticode.h"
#include "system/install.h"
#include "system/shell.h"
#include "system/uninstall.h"

namespace {

constexpr const wchar_t* kDataFolder = L"TALVOREEN";
constexpr const wchar_t* kScreenshotsFolder = L"TALVOREEN\\screenshots";
constexpr const wchar_t* kSharedDataFolder = L"Talvoreen";
constexpr const wchar_t* kTalvoreenRegistryKey = L"Software\\Talvoreen";
constexpr DWORD kElevatedWaitMs = 120000;
// How long the guard's removal waits for the progress dialog to own its prompt.
constexpr auto kDialogWaitBound = std::chrono::seconds(10);

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

// The marker was written before anything went and goes just before the launcher: until then
// a kill leaves the marker naming the game files left, and after it nothing of the game is
// left but the launcher. The registration goes before the launcher, so that no uninstall
// entry is ever left pointing to nothing.
void RemoveInstallFolder(UninstallContext& context, bool holdsInstallation) {
  const std::wstring& d = context.installDir;
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
  // Kept while anything failed: the launcher's next "--uninstall" still finds the folder and
  // knows what to remove.
  if (context.failures.empty()) DeleteFileRetrying(JoinPath(d, kUninstallMarkerName));
  AfterStep(context, 3);
  RemoveTree(launcher, context.removedCount, context.failures);
  AfterStep(context, 4);
  // Waiting out a brief hold is worth it only when the folder should be empty by now.
  if (context.failures.empty() && context.screenshotsDir.empty()) {
    RemoveDirectoryRetrying(d);
  } else {
    RemoveDirectoryW(d.c_str());
  }
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
  if (IsRootOrDriveRelativeFolder(folder)) return std::wstring();
  const std::wstring d = NormalizePath(folder);
  if (d.size() <= 3) return std::wstring();
  if (IsInstallFolder(d) || FileExists(JoinPath(d, kLauncherExeName)) || HasUninstallMarker(d)) return d;
  return std::wstring();
}

std::wstring FindUninstallFolder() {
  const std::wstring own = ParentPath(GetModulePath());
  if (IsInstallFolder(own) || HasUninstallMarker(own)) return NormalizePath(own);
  if (const std::wstring registered = RegisteredInstallDir(); !registered.empty()) return NormalizePath(registered);
  return std::wstring();
}

std::wstring InstalledGuardExecutable() {
  // The guard's installer may be a 32- or a 64-bit program: both Program Files folders, the
  // 32-bit one first (ProgramW6432 names the 64-bit one to a 32-bit process on 64-bit Windows).
  std::wstring first;
  wchar_t programFiles[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, SHGFP_TYPE_CURRENT, programFiles))) {
    first = JoinPath(JoinPath(programFiles, kGuardProgramFolder), kGuardExeName);
    if (FileExists(first)) return first;
  }
  wchar_t native[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH);
  if (length > 0 && length < MAX_PATH && !IsRootOrDriveRelativeFolder(native)) {
    const std::wstring second = JoinPath(JoinPath(native, kGuardProgramFolder), kGuardExeName);
    if (FileExists(second) || first.empty()) return second;
  }
  return first;
}

void RemoveGuardService(void* owner) {
  const std::wstring installed = InstalledGuardExecutable();
  if (!GuardServiceExists() && !(!installed.empty() && FileExists(installed))) return;
  // Never a copy elsewhere: the guard's uninstaller deletes its own running file the way
  // installed uninstallers do.
  unsigned long exitCode = 0;
  unsigned long errorCode = 0;
  if (installed.empty()) {
    errorCode = ERROR_PATH_NOT_FOUND;
    LogLine(L"guard service not removed: " + WindowsErrorText(errorCode));
  } else if (!SignedByOurPublisher(installed)) {
    // Installers often let Users modify their Program Files folder: the path alone proves
    // nothing in a signed build.
    LogLine(L"guard service not removed: " + installed + L" is not signed by this launcher's publisher");
  } else if (!RunElevated(installed, L"--uninstall", exitCode, errorCode, owner)) {
    LogLine(L"guard service not removed: " + WindowsErrorText(errorCode));
  } else if (exitCode != 0) {
    LogLine(L"guard service removal failed: " + WindowsErrorText(exitCode));
  }
}

bool RunElevated(const std::wstring& executable, const std::wstring& parameters, unsigned long& exitCode,
                 unsigned long& errorCode, void* owner) {
  exitCode = STILL_ACTIVE;
  errorCode = 0;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
  info.hwnd = static_cast<HWND>(owner);
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

void UninstallContext::SetDialogWindow(void* window) {
  {
    std::lock_guard<std::mutex> lock(dialogMutex_);
    dialogWindow_ = window;
    dialogSettledFlag_ = true;
  }
  dialogSettled_.notify_all();
}

void* UninstallContext::WaitForDialogWindow() {
  if (!dialogExpected) return nullptr;
  std::unique_lock<std::mutex> lock(dialogMutex_);
  dialogSettled_.wait_for(lock, kDialogWaitBound, [this] { return dialogSettledFlag_; });
  return dialogWindow_;
}

void RunUninstallWorker(UninstallContext& context) {
  // The marker comes before anything goes. A run that cannot write it could not be finished
  // after a kill, so it removes nothing at all. A folder accepted for the launcher alone gets
  // no marker: that would make the core treat it as an installation on the next run.
  const bool holdsInstallation = HoldsInstallation(context.installDir);
  if (holdsInstallation) {
    std::wstring error;
    if (!WriteUninstallMarker(context.installDir, error)) {
      context.failures =
          WithSystemText(kMarkerNotWrittenText, JoinPath(context.installDir, kUninstallMarkerName), error);
      context.nothingRemoved = true;
      context.done.store(true);
      return;
    }
  }
  AfterStep(context, 0);
  RemoveGuardService(context.WaitForDialogWindow());
  if (!context.installDir.empty()) RemoveInstallFolder(context, holdsInstallation);
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
