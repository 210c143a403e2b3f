#include "launcher/entry.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include "base/files.h"
#include "base/handles.h"
#include "launcher/crash_report.h"
#include "launcher/headless.h"
#include "launcher/run_modes.h"
#include "launcher/single_instance.h"
#include "system/install.h"
#include "ui/app.h"
#include "update/launcher_updater.h"

CommandLine ReadCommandLine() {
  std::vector<std::wstring> args;
  int count = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) args.emplace_back(argv[i]);
    LocalFree(argv);
  }
  CommandLine cl = ParseLaunchArguments(args, &NormalizePath);
  if (!cl.options.devServer) {
    cl.options.devServer = IsDevelopmentTree(GetModulePath(), &FileExists);
  }
  return cl;
}

namespace {

void WaitForUpdatedLauncher(int processId) {
  if (processId == 0) return;
  UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId)));
  if (process.Valid()) WaitForSingleObject(process.Get(), 15000);
}

int RunSingleWindow(LaunchOptions& options) {
  HANDLE mutex = nullptr;
  switch (ClaimSingleInstance(options.link ? &*options.link : nullptr, mutex)) {
    case InstanceClaim::Owned: break;
    case InstanceClaim::HandedOver: return 0;
    case InstanceClaim::GaveUp:
      // The click, or the join link from the browser, would otherwise be lost without a word.
      MessageBoxW(nullptr, kTwinNotAnsweringText, L"Talvoreen Multiplayer", MB_OK | MB_ICONWARNING);
      return 3;
  }
  // The window may release the lock early (before starting an updated launcher) and then
  // clears the handle through this pointer.
  options.instanceLock = reinterpret_cast<void**>(&mutex);
  const int code = RunWindowMode(options);
  options.instanceLock = nullptr;
  if (mutex) CloseHandle(mutex);
  return code;
}

int RunMode(CommandLine& cl) {
  LaunchOptions& options = cl.options;
  if (!cl.uninstallRunDir.empty()) return RunUninstallStage2(cl.uninstallRunDir, cl.waitProcessId);
  if (cl.uninstall) return RunUninstall();
  WaitForUpdatedLauncher(cl.afterUpdateProcessId);
  if (!cl.headlessJob.empty()) return RunHeadlessJob(options, cl.headlessJob);
  // Refused before the window adopts the folder, logs in it or writes its state there.
  if (!options.installDir.empty() && IsRootOrDriveRelativeFolder(options.installDir)) {
    MessageBoxW(nullptr, kUnusableFolderText, L"Talvoreen Multiplayer", MB_OK | MB_ICONERROR);
    return 2;
  }
  if (!options.shotsDir.empty()) return RunScreenshotMode(options);
  LauncherUpdater::CleanupAfterUpdate(GetModulePath());
  return RunSingleWindow(options);
}

// A 32-bit process on 64-bit Windows can have an exception inside a window procedure (the paint
// callback, a timer) swallowed where the kernel's callback returns, leaving a broken window and
// no report. The manifest's supported-OS entries stop that from Windows 7 on; this does too
// where the manifest is not honoured and the system has the call (Windows 7 with KB976038).
void KeepCallbackExceptionsFatal() {
  using GetPolicy = BOOL(WINAPI*)(LPDWORD);
  using SetPolicy = BOOL(WINAPI*)(DWORD);
  constexpr DWORD kCallbackFilterEnabled = 0x1;  // PROCESS_CALLBACK_FILTER_ENABLED
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto get = reinterpret_cast<GetPolicy>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "GetProcessUserModeExceptionPolicy")));
  const auto set = reinterpret_cast<SetPolicy>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessUserModeExceptionPolicy")));
  DWORD flags = 0;
  if (get && set && get(&flags)) set(flags & ~kCallbackFilterEnabled);
}

}  // namespace

int RunLauncher(CommandLine commandLine) {
  KeepCallbackExceptionsFatal();
  InstallCrashReporter(!commandLine.headlessJob.empty());
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) return 1;
  const int code = RunMode(commandLine);
  CoUninitialize();
  return code;
}
