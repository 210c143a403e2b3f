// Starting game copies and telling which copies run. The launcher never keeps a handle to a
// started copy; a copy runs while its named mutex exists (base/game_copies.h).
#pragma once

#include <string>

#include "base/game_copies.h"

// The lowest copy number that is not running, or 0 when all 16 run.
int FindFreeGameInstance();

int CountRunningGameInstances();

// Starts Talvoreen.exe of the install folder as the given copy, with the link (empty, or
// "mtasa://" + host:port) as its only argument. On failure error holds the text to show.
// Not for two threads at once: the copy number travels in the process environment.
bool LaunchGame(const std::wstring& installDir, int copy, const std::wstring& link, std::wstring& error);

// Starts a program the way game copies are started ("open", shown normally, in folder);
// false with the Windows error code when it does not start.
bool StartProgram(const std::wstring& exe, const std::wstring& parameters, const std::wstring& folder,
                  unsigned long& errorCode);

// The launcher side of the launch permission (docs/game-launch.md). Creates the permission
// event of the copy for the token and keeps it until the next permission for that copy or
// the end of the process. Fails when an object of that name already exists.
bool IssueLaunchPermission(int copy, const std::string& token, std::wstring& error);

// The client side: true once for a token the launcher issued for this copy; false for a
// replayed, forged or malformed token, or a token issued for another copy.
bool ClaimLaunchPermission(int copy, const std::wstring& token);

// A copy started elevated is created by the system's elevation service, which passes none of
// the launcher's environment. So each start also leaves its copy number and token in a slot
// that only elevated processes may read (docs/game-launch.md).
inline constexpr const wchar_t* kElevatedLaunchSlotName = L"Local\\TalvoreenElevatedLaunch";
inline constexpr unsigned long kElevatedLaunchSlotBytes = 128;

// The client side: the copy number and token of the latest start, when the slot holds a
// well-formed one this process may read.
bool ReadElevatedLaunchSlot(int& copy, std::wstring& token);

// The text for a failed start with the given Windows error code.
std::wstring LaunchFailureText(unsigned long code);
