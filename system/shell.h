// Makes an installation visible to Windows for the current user: shortcuts, the
// talvoreen:// protocol and the entry in the list of installed programs. Best effort and
// silent throughout; COM must be initialised on the calling thread.
#pragma once

#include <string>

inline constexpr const wchar_t* kShortcutName = L"Talvoreen Multiplayer.lnk";
inline constexpr const wchar_t* kLegacyShortcutName = L"Talvoreen Client.lnk";
inline constexpr const wchar_t* kProtocolKey = L"Software\\Classes\\talvoreen";
inline constexpr const wchar_t* kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TalvoreenMultiplayer";

bool CreateShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& workingFolder);
std::wstring ReadShortcutTarget(const std::wstring& linkPath);
bool ShortcutPointsToLauncher(const std::wstring& linkPath);

// The file's version resource names it "Talvoreen Launcher.exe" as its OriginalFilename.
bool IsLauncherExecutable(const std::wstring& file);
// "a.b.c" from the fixed file version, empty when the file has none.
std::wstring FileVersionText(const std::wstring& file);

// The user's Desktop and Start-menu Programs folders; empty when unknown.
std::wstring DesktopFolder();
std::wstring ProgramsFolder();

void EnsureDesktopShortcut(const std::wstring& launcherPath, const std::wstring& installDir);
void RegisterUrlProtocol(const std::wstring& installDir);
void WriteUninstallEntry(const std::wstring& installDir);

// Start-menu shortcut, desktop shortcut, uninstall entry and protocol, as an install does.
void RegisterInstallation(const std::wstring& installDir, bool createStartMenuShortcut);
