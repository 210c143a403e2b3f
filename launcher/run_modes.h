// The run modes the entry point hands over to. Each returns the process exit code.
#pragma once

#include <string>

#include "launcher/options.h"

int RunUninstallSecondStage(const std::wstring& installDir, int waitProcessId);
int RunInteractiveUninstall();
int RunScreenshotMode(const LaunchOptions& options);
int RunWindowMode(const LaunchOptions& options);
