#include "launcher/headless.h"

#include <windows.h>

#include "launcher/files.h"
#include "launcher/log.h"
#include "launcher/text.h"
#include "launcher/version.h"
#include "system/install.h"

void WriteConsoleLine(const std::wstring& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  const std::string bytes = Utf8FromWide(text) + "\n";
  DWORD written = 0;
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

namespace {

int RunWhere() {
  const std::wstring found = FindExistingInstall();
  WriteConsoleLine(found.empty() ? L"none" : found);
  return found.empty() ? 1 : 0;
}

}  // namespace

int RunHeadlessJob(const LaunchOptions& options, const std::wstring& job) {
  if (job == L"where") return RunWhere();
  if (options.installDir.empty() && job != L"servers") {
    WriteConsoleLine(L"--headless needs --dir <install folder>");
    return 2;
  }
  const std::wstring installDir = options.installDir.empty() ? std::wstring() : NormalizePath(options.installDir);
  SetLogDirectory(JoinPath(installDir, kLogFolder));
  LogLine(std::wstring(L"Talvoreen Launcher ") + kLauncherVersionW + L" | headless " + job + L" | install " +
          installDir);

  WriteConsoleLine(L"unknown --headless job: " + job);
  return 2;
}
