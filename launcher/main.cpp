#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "launcher/crash_report.h"
#include "launcher/entry.h"

namespace {

// The crash reporter's helper: this executable started by a crashed copy of itself. Checked
// before anything else runs, so that it touches no log, registry or window.
bool IsCrashDumpWriter(std::vector<std::wstring>& args) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return false;
  const bool writer = count >= 2 && std::wstring(argv[1]) == kCrashDumpWriterOption;
  if (writer) args.assign(argv + 2, argv + count);
  LocalFree(argv);
  return writer;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::vector<std::wstring> writerArgs;
  if (IsCrashDumpWriter(writerArgs)) return RunCrashDumpWriter(writerArgs);
  return RunLauncher(ReadCommandLine());
}
