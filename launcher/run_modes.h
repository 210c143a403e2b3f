// The uninstall modes the entry point hands over to (the window and screenshot modes are in
// ui/app.h). Each returns the process exit code.
#pragma once

#include <string>

// `--uninstall`: refusals, confirmation, then the second stage from a temporary copy.
int RunUninstall();
// `--uninstall-run`: waits for the first stage, removes everything and reports the outcome.
int RunUninstallStage2(const std::wstring& folder, int waitProcessId);
