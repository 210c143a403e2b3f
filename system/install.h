// Recognising and finding an install folder.
#pragma once

#include <string>

#include "base/install_layout.h"

inline constexpr const wchar_t* kDefaultInstallDir = L"C:\\Talvoreen";

// Shown for a drive root, a drive-relative folder or one whose name has ";".
inline constexpr const wchar_t* kUnusableFolderText =
    L"Bu klasör kullanılamaz; örneğin C:\\Talvoreen gibi bir alt klasör seç";

// "Talvoreen.exe" in the folder, or ".talvoreen\installed.json" (files, not folders).
bool IsInstallFolder(const std::wstring& folder);

// "InstallDir" when it still holds the launcher or an installation; otherwise empty.
std::wstring RegisteredInstallDir();

// The running launcher's folder, the registered folder, then C:\Talvoreen and
// <fixed drive>:\Talvoreen; the first that holds an installation, normalised. Empty if none.
std::wstring FindExistingInstall();

// Proves that a folder is writable; a killed install can leave it (or its ".tmp").
inline constexpr const wchar_t* kWriteTestName = L".talvoreen-write-test";

// The scratch copy of CopyFileSafely: target + ".copy.part". Not ".new", which is where the
// self-updater stages the next launcher beside the same target at the same time.
std::wstring CopyScratchPath(const std::wstring& target);

// Copies source to its scratch copy and moves that over target; the scratch file is removed
// when the move fails. True only when both steps succeed.
bool CopyFileSafely(const std::wstring& source, const std::wstring& target);

// The setup screen's install action: write test, copy of the running launcher, "InstallDir",
// then the shell registration. On failure error holds the text to show.
bool InstallIntoFolder(const std::wstring& chosen, std::wstring& launcherPath, std::wstring& error);

// At window start, for a folder that was found rather than given: copies the launcher in
// when it is missing and rewrites "InstallDir" and the registration when they differ.
void RepairRegistration(const std::wstring& installDir);

// Earlier versions ran from copies on the desktop ("Talvoreen Multiplayer.exe",
// "Talvoreen Client.exe"); this moves such a player over to the installed launcher.
void MigrateDesktopLaunchers();

// The system folder picker; false when the player cancels.
bool ChooseInstallFolder(void* ownerWindow, const std::wstring& proposed, std::wstring& chosen);
