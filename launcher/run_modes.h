// The run modes the entry point hands over to. Each returns the process exit code.
#pragma once

#include <string>

#include "launcher/options.h"

// `--uninstall`: refusals, confirmation, then the second stage from a temporary copy.
int RunUninstall();
// `--uninstall-run`: waits for the first stage, removes everything and reports the outcome.
int RunUninstallStage2(const std::wstring& folder, int waitProcessId);
int RunScreenshotMode(const LaunchOptions& options);
int RunWindowMode(const LaunchOptions& options);
