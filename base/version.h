// The launcher's version, in one place: the code, the user agent, the version resource (which
// the install compares with the launcher already in the folder) and the build all take it from
// here, so that none of them can drift. The resource compiler reads only the macros.
#pragma once

#define TALVOREEN_VERSION_MAJOR 0
#define TALVOREEN_VERSION_MINOR 4
#define TALVOREEN_VERSION_PATCH 21

#define TALVOREEN_VERSION_STRINGIFY2(x) #x
#define TALVOREEN_VERSION_STRINGIFY(x) TALVOREEN_VERSION_STRINGIFY2(x)
#define TALVOREEN_VERSION_TEXT                                                               \
  TALVOREEN_VERSION_STRINGIFY(TALVOREEN_VERSION_MAJOR) "." TALVOREEN_VERSION_STRINGIFY(      \
      TALVOREEN_VERSION_MINOR) "." TALVOREEN_VERSION_STRINGIFY(TALVOREEN_VERSION_PATCH)

#ifndef RC_INVOKED
inline constexpr const char* kLauncherVersion = TALVOREEN_VERSION_TEXT;
inline constexpr const wchar_t* kLauncherVersionW = L"" TALVOREEN_VERSION_TEXT;
inline constexpr const wchar_t* kLauncherExeName = L"Talvoreen Launcher.exe";
inline constexpr const wchar_t* kGameExeName = L"Talvoreen.exe";
#endif
