// The command line of the launcher and its parsing. Portable: parsing works on an
// argument vector (without the program name) so that the grammar is tested on the host.
#pragma once

#include <string>
#include <vector>

#include "base/launch_options.h"

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
