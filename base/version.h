#pragma once

#define TALVOREEN_VERSION_MAJOR 0
#define TALVOREEN_VERSION_MINOR 4
#define TALVOREEN_VERSION_PATCH 21

inline constexpr const char* kLauncherVersion = "0.4.21";
inline constexpr const wchar_t* kLauncherVersionW = L"0.4.21";
inline constexpr const wchar_t* kLauncherExeName = L"Talvoreen Launcher.exe";
inline constexpr const wchar_t* kGameExeName = L"Talvoreen.exe";
