#include "base/registry.h"

#include <windows.h>

#include <vector>

#include "base/catalogue.h"
#include "base/handles.h"

std::wstring ReadRegistryString(const std::wstring& subKey, const std::wstring& name) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return {};
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
    if (type != REG_SZ) return {};
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    LONG status = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    if (status == ERROR_MORE_DATA) continue;  // grew between the two calls
    if (status != ERROR_SUCCESS || type != REG_SZ) return {};
    // The stored data need not be terminated; stop at the first NUL if there is one.
    size_t count = bytes / sizeof(wchar_t);
    std::wstring value(buffer.data(), count);
    size_t nul = value.find(L'\0');
    if (nul != std::wstring::npos) value.resize(nul);
    return value;
  }
  return {};
}

bool WriteRegistryString(const std::wstring& subKey, const std::wstring& name, const std::wstring& value,
                         uint32_t* error) {
  UniqueRegKey key;
  LSTATUS result = RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(),
                                   nullptr);
  if (result == ERROR_SUCCESS) {
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    result = RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  }
  if (error) *error = static_cast<uint32_t>(result);
  return result == ERROR_SUCCESS;
}

bool DeleteRegistryValue(const std::wstring& subKey, const std::wstring& name) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS) return false;
  return RegDeleteValueW(key.Get(), name.c_str()) == ERROR_SUCCESS;
}

int ReadSelectedServer() {
  return ServerCatalogue::IndexOfKey(ReadRegistryString(kLauncherRegistryKey, kSelectedServerValue));
}

void WriteSelectedServer(int index) {
  if (index < 0 || index >= ServerCatalogue::kCount) return;
  WriteRegistryString(kLauncherRegistryKey, kSelectedServerValue, ServerCatalogue::kKeys[index]);
}
