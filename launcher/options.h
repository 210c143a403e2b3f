// The command line of the launcher and its parsing. Portable: parsing works on an
// argument vector (without the program name) so that the grammar is tested on the host.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

// Everything the command line says: the options record plus what only the entry point uses.
struct CommandLine {
  LaunchOptions options;
  bool uninstall = false;
  std::wstring uninstallRunDir;
  int waitProcessId = 0;
  int afterUpdateProcessId = 0;
  std::wstring headlessJob;
};

// normalizePath is applied to --cache; the caller passes the platform's NormalizePath.
CommandLine ParseLaunchArguments(const std::vector<std::wstring>& args,
                                 std::wstring (*normalizePath)(const std::wstring&));

// The launcher runs from <T>\Bin\launcher and <T> holds a file "premake5.lua".
bool IsDevelopmentTree(const std::wstring& exePath, bool (*fileExists)(const std::wstring&));
