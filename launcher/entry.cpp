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
  if (ClaimSingleInstance(options.link ? &*options.link : nullptr, mutex) != InstanceClaim::Owned) return 0;
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
  if (!options.shotsDir.empty()) return RunScreenshotMode(options);
  LauncherUpdater::CleanupAfterUpdate(GetModulePath());
  return RunSingleWindow(options);
}

}  // namespace

int RunLauncher(CommandLine commandLine) {
  InstallCrashReporter(!commandLine.headlessJob.empty());
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) return 1;
  const int code = RunMode(commandLine);
  CoUninitialize();
  return code;
}
