// What a run of the launcher was asked to do: the options record every mode reads, and the
// development-tree test. The command line that fills it is parsed in launcher/options.
#pragma once

#include <optional>
#include <string>

struct LaunchOptions {
  std::wstring contentBaseUrl;
  std::wstring gtaArchiveUrl;
  std::wstring serverListUrl;
  std::wstring cacheDir;
  std::wstring installDir;
  std::wstring shotsDir;
  std::wstring connectAddress;
  bool testOldVersion = false;
  bool devServer = false;
  void** instanceLock = nullptr;  // the window's single-instance mutex handle, window mode only
  std::optional<std::wstring> link;

  LaunchOptions();
};

// The launcher runs from <T>\Bin\launcher and <T> holds a file "premake5.lua".
bool IsDevelopmentTree(const std::wstring& exePath, bool (*fileExists)(const std::wstring&));
