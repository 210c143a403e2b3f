// What the game-client stand-in (game_stand_in.cpp) and its tests agree on.
#pragma once

#include <string>

#include "base/text.h"

// Written beside the stand-in once it has decided to run or not: "key=value" lines, UTF-8.
inline std::wstring StandInRecordName(int copy) {
  return L"game-copy-" + DecimalText(static_cast<long long>(copy)) + L".txt";
}

// Set by a stand-in that holds its copy's mutex; the stand-in ends when "exit" is set.
inline std::wstring StandInEventName(int copy, const wchar_t* what) {
  return L"Local\\TalvoreenGameStandIn-" + DecimalText(static_cast<long long>(copy)) + L"-" + what;
}

// Set by a stand-in that refuses to run, whichever copy it was meant to be.
inline constexpr const wchar_t* kStandInRefusedEvent = L"Local\\TalvoreenGameStandIn-refused";

// Set in a test's environment: the stand-in then ignores the launcher's variables, as a copy
// that the elevation service started never sees them.
inline constexpr const wchar_t* kStandInElevatedVariable = L"TALVOREEN_STAND_IN_ELEVATED";

// Exit codes of the stand-in.
inline constexpr unsigned long kStandInClosed = 0;
inline constexpr unsigned long kStandInRefused = 3;         // no valid launch permission or copy number
inline constexpr unsigned long kStandInAlreadyRunning = 4;  // its copy's mutex was taken
