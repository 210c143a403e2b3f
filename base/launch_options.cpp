#include "base/launch_options.h"

#include "base/config.h"
#include "base/paths.h"

LaunchOptions::LaunchOptions()
    : contentBaseUrl(TALVOREEN_DEFAULT_CONTENT_BASE_URL), gtaArchiveUrl(TALVOREEN_DEFAULT_GTA_ARCHIVE_URL) {}

bool IsDevelopmentTree(const std::wstring& exePath, bool (*fileExists)(const std::wstring&)) {
  std::wstring tree = DevelopmentTreeRoot(exePath);
  return !tree.empty() && fileExists(JoinPath(tree, L"premake5.lua"));
}
