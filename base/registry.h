// HKEY_CURRENT_USER string values, and the launcher's own key and value names.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const wchar_t* kLauncherRegistryKey = L"Software\\Talvoreen\\Launcher";
inline constexpr const wchar_t* kCommonRegistryKey = L"Software\\Talvoreen\\Common";
inline constexpr const wchar_t* kInstallDirValue = L"InstallDir";
inline constexpr const wchar_t* kSelectedServerValue = L"SelectedServer";

// REG_SZ only; empty on any failure (missing key or value, other type).
std::wstring ReadRegistryString(const std::wstring& subKey, const std::wstring& name);

// REG_SZ, creating the key when missing. On failure *error (when given) holds the system's code.
bool WriteRegistryString(const std::wstring& subKey, const std::wstring& name, const std::wstring& value,
                         uint32_t* error = nullptr);

bool DeleteRegistryValue(const std::wstring& subKey, const std::wstring& name);

// The stored server selection as a catalogue index, or -1 when none or unknown.
int ReadSelectedServer();
void WriteSelectedServer(int index);
