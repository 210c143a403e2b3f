// Run modes that this build does not contain yet. They say so instead of pretending to work.
#include <windows.h>

#include "launcher/log.h"
#include "launcher/run_modes.h"

namespace {

int Unavailable(const wchar_t* mode, bool tellPlayer) {
  LogLine(std::wstring(L"run mode not available in this build: ") + mode);
  if (tellPlayer) {
    MessageBoxW(nullptr, L"Bu sürümde bu bölüm henüz yok.", L"Talvoreen Launcher", MB_OK | MB_ICONINFORMATION);
  }
  return 1;
}

}  // namespace

int RunScreenshotMode(const LaunchOptions&) { return Unavailable(L"screenshots", false); }
int RunWindowMode(const LaunchOptions&) { return Unavailable(L"window", true); }
