#include "launcher/options.h"

#include "base/config.h"
#include "base/paths.h"
#include "base/text.h"

namespace {

// Returns the field a value option writes, or null for a word that is not a value option.
std::wstring* ValueTarget(CommandLine& cl, const std::wstring& name, bool& isProcessId, int*& processId) {
  LaunchOptions& o = cl.options;
  isProcessId = false;
  processId = nullptr;
  if (name == L"--uninstall-run") return &cl.uninstallRunDir;
  if (name == L"--dir") return &o.installDir;
  if (name == L"--cdn") return &o.contentBaseUrl;
  if (name == L"--server-list") return &o.serverListUrl;
  if (name == L"--cache") return &o.cacheDir;
  if (name == L"--gta-url") return &o.gtaArchiveUrl;
  if (name == L"--shots") return &o.shotsDir;
  if (name == L"--connect") return &o.connectAddress;
  if (name == L"--headless") return &cl.headlessJob;
  if (name == L"--wait" || name == L"--after-update") {
    isProcessId = true;
    processId = name == L"--wait" ? &cl.waitProcessId : &cl.afterUpdateProcessId;
  }
  return nullptr;
}

}  // namespace

CommandLine ParseLaunchArguments(const std::vector<std::wstring>& args,
                                 std::wstring (*normalizePath)(const std::wstring&)) {
  CommandLine cl;
  LaunchOptions& o = cl.options;
  if (!args.empty() && args[0] == L"--link") {
    o.link = args.size() == 2 ? args[1] : std::wstring();
    return cl;
  }
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (arg == L"--test-old-version") { o.testOldVersion = true; continue; }
    if (arg == L"--dev-server") { o.devServer = true; continue; }
    if (arg == L"--uninstall") { cl.uninstall = true; continue; }
    if (i + 1 == args.size()) break;
    const std::wstring& value = args[i + 1];
    bool isProcessId = false;
    int* processId = nullptr;
    if (std::wstring* target = ValueTarget(cl, arg, isProcessId, processId)) {
      *target = value;
      if (target == &o.cacheDir && normalizePath) *target = normalizePath(value);
      ++i;
    } else if (isProcessId) {
      *processId = ParseIntLikeWtoi(value);
      ++i;
    } else if (arg == L"--join") {
      o.link = L"talvoreen://" + value;
      ++i;
    }
  }
  while (!o.contentBaseUrl.empty() && o.contentBaseUrl.back() == L'/') o.contentBaseUrl.pop_back();
  return cl;
}
