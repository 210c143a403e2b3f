// Jobs without a window: `--headless <job>` reports on standard output and ends the
// process with the job's exit code.
#pragma once

#include <array>
#include <string>

#include "base/console.h"
#include "launcher/options.h"

int RunHeadlessJob(const LaunchOptions& options, const std::wstring& job);

// The "servers" job over the given player-count URLs (catalogue order; empty = none).
int RunPlayerCountJob(const std::array<std::wstring, 4>& urls);
