// Names and texts shared by the launcher and the game client for side-by-side game copies.
// Portable but for IsGameInstanceRunning: the launcher's Windows code and the tests build on these.
#pragma once

#include <string>

inline constexpr int kGameCopyLimit = 16;

// Copy 1 holds this name; copy n >= 2 holds it + "-" + n.
inline constexpr const wchar_t* kGameInstanceMutexBase = L"Global\\{42DEDDCF-8765-474A-ABCE-9F6F23B51443}";

// The copy number for copies 2..16; absent for copy 1.
inline constexpr const wchar_t* kGameInstanceVariable = L"TALVOREEN_INSTANCE";

// The one-time launch permission (docs/game-launch.md): a token in this variable, proved by
// an event whose name carries the token's SHA-256.
inline constexpr const wchar_t* kLaunchPermissionVariable = L"TALVOREEN_LAUNCH_PERMISSION";
inline constexpr const wchar_t* kLaunchPermissionEventBase = L"Local\\TalvoreenLaunchPermission-";
inline constexpr size_t kLaunchPermissionTokenLength = 64;  // lower-case hex of 32 random bytes

std::wstring GameInstanceMutexName(int copy);

// Windows: copies 1..16 whose mutex exists; any other number is not running.
bool IsGameInstanceRunning(int copy);

// kLaunchPermissionEventBase + copy + "-" + digest (the token's SHA-256, lower-case hex).
std::wstring LaunchPermissionEventName(int copy, const std::string& tokenDigestHex);

// Exactly 64 characters 0-9 a-f.
bool IsWellFormedLaunchToken(const std::wstring& token);

// The copy a started client is, from its TALVOREEN_INSTANCE value (null when absent): 1 when
// absent, 1..16 in plain decimal without leading zeros, 0 for anything else.
int GameCopyFromVariable(const wchar_t* value);

// One argument in the form CommandLineToArgvW splits back into exactly that argument:
// unchanged unless it is empty or holds a blank or a quote.
std::wstring QuoteCommandArgument(const std::wstring& argument);
// The same, always in quotation marks: backslashes in front of the closing quote are
// doubled, so a folder such as "D:\" does not swallow the arguments after it.
std::wstring QuotedCommandArgument(const std::wstring& argument);
