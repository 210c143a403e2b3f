// Recognising and finding an install folder.
#pragma once

#include <string>

inline constexpr const wchar_t* kStateFolder = L".talvoreen";
inline constexpr const wchar_t* kInstalledStateFile = L"installed.json";
inline constexpr const wchar_t* kDefaultInstallDir = L"C:\\Talvoreen";

// "Talvoreen.exe" in the folder, or ".talvoreen\installed.json" (files, not folders).
bool IsInstallFolder(const std::wstring& folder);

// "InstallDir" when it still holds the launcher or an installation; otherwise empty.
std::wstring RegisteredInstallDir();

// The running launcher's folder, the registered folder, then C:\Talvoreen and
// <fixed drive>:\Talvoreen; the first that holds an installation, normalised. Empty if none.
std::wstring FindExistingInstall();
