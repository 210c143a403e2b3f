#pragma once

#include "launcher/options.h"

// The command line of this process, parsed, with the development-tree rule applied.
CommandLine ReadCommandLine();

// Start-up order after parsing: COM, uninstall stages, after-update wait, headless job,
// screenshots, update leftovers, single instance, window. Returns the exit code.
int RunLauncher(CommandLine commandLine);
