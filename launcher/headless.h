// Jobs without a window: `--headless <job>` reports on standard output and ends the
// process with the job's exit code.
#pragma once

#include <array>
#include <string>

#include "launcher/options.h"

// The text + LF as UTF-8 in one write to standard output; nothing when there is no
// standard output handle (a GUI process started without redirection).
void WriteConsoleLine(const std::wstring& text);

int RunHeadlessJob(const LaunchOptions& options, const std::wstring& job);

// The "servers" job over the given player-count URLs (catalogue order; empty = none).
int RunPlayerCountJob(const std::array<std::wstring, 4>& urls);
