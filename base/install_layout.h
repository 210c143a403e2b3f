// Names inside an install folder and beside it that the game files, the GTA installer, the
// uninstaller and the window all rely on.
#pragma once

// The hidden folder of state files and scratch work.
inline constexpr const wchar_t* kStateFolder = L".talvoreen";
inline constexpr const wchar_t* kInstalledStateFile = L"installed.json";

// The game copy the installer unpacks into the install folder.
inline constexpr const wchar_t* kGtaCopyFolder = L"GTA-SA";

// The value under HKCU "Software\Talvoreen\Common" that names the game folder; the game
// client reads the same value.
inline constexpr const wchar_t* kGtaFolderValue = L"GtaSaFolder";
