#include "system/shell.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "base/files.h"
#include "base/text.h"
#include "base/version.h"

namespace {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (p_) p_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T** Put() { return &p_; }
  T* operator->() const { return p_; }
  T* Get() const { return p_; }

 private:
  T* p_ = nullptr;
};

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)) && path) result = path;
  CoTaskMemFree(path);
  return result;
}

std::wstring LauncherIn(const std::wstring& installDir) { return JoinPath(installDir, kLauncherExeName); }

bool ReadVersionBlock(const std::wstring& file, std::vector<uint8_t>& block) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return false;
  block.resize(size);
  return GetFileVersionInfoW(file.c_str(), 0, size, block.data());
}

}  // namespace

bool CreateShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& workingFolder) {
  ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(link.Put())))) {
    return false;
  }
  link->SetPath(target.c_str());
  link->SetWorkingDirectory(workingFolder.c_str());
  link->SetIconLocation(target.c_str(), 0);
  link->SetDescription(L"Talvoreen Multiplayer");
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Put())))) return false;
  return SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}

std::wstring ReadShortcutTarget(const std::wstring& linkPath) {
  ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(link.Put())))) {
    return {};
  }
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Put()))) ||
      FAILED(file->Load(linkPath.c_str(), STGM_READ))) {
    return {};
  }
  wchar_t target[MAX_PATH] = {};
  if (FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) return {};
  return target;
}

bool ShortcutPointsToLauncher(const std::wstring& linkPath) {
  const std::wstring target = ReadShortcutTarget(linkPath);
  return !target.empty() && EqualsIgnoreCase(FileNamePart(target), kLauncherExeName);
}

bool IsLauncherExecutable(const std::wstring& file) {
  std::vector<uint8_t> block;
  if (!ReadVersionBlock(file, block)) return false;
  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      length < sizeof(Translation)) {
    return false;
  }
  wchar_t query[64];
  swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\OriginalFilename", translation->language, translation->codePage);
  wchar_t* name = nullptr;
  if (!VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&name), &length) || !name || length == 0) {
    return false;
  }
  return EqualsIgnoreCase(std::wstring(name, wcsnlen(name, length)), kLauncherExeName);
}

std::wstring FileVersionText(const std::wstring& file) {
  std::vector<uint8_t> block;
  if (!ReadVersionBlock(file, block)) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return {};
  }
  return DecimalText(static_cast<long long>(HIWORD(info->dwFileVersionMS))) + L"." +
         DecimalText(static_cast<long long>(LOWORD(info->dwFileVersionMS))) + L"." +
         DecimalText(static_cast<long long>(HIWORD(info->dwFileVersionLS)));
}

std::wstring DesktopFolder() { return KnownFolder(FOLDERID_Desktop); }
std::wstring ProgramsFolder() { return KnownFolder(FOLDERID_Programs); }

void EnsureDesktopShortcut(const std::wstring& launcherPath, const std::wstring& installDir) {
  const std::wstring desktop = DesktopFolder();
  if (launcherPath.empty() || !FileExists(launcherPath) || desktop.empty()) return;
  const std::wstring link = JoinPath(desktop, kShortcutName);
  if (!FileExists(link)) {
    CreateShortcut(link, launcherPath, installDir);
  } else if (ShortcutPointsToLauncher(link) && !EqualsIgnoreCase(ReadShortcutTarget(link), launcherPath)) {
    CreateShortcut(link, launcherPath, installDir);
  }
  // A shortcut of that name pointing elsewhere belongs to the player and stays.
}

void RegisterUrlProtocol(const std::wstring& installDir) {
  const std::wstring launcher = LauncherIn(installDir);
  if (installDir.empty() || !FileExists(launcher)) return;
  auto set = [](const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  };
  const std::wstring key = kProtocolKey;
  set(key, nullptr, L"URL:Talvoreen Multiplayer");
  set(key, L"URL Protocol", L"");
  set(key + L"\\DefaultIcon", nullptr, launcher + L",0");
  set(key + L"\\shell\\open\\command", nullptr, L"\"" + launcher + L"\" --link \"%1\"");
}

void WriteUninstallEntry(const std::wstring& installDir) {
  const std::wstring launcher = LauncherIn(installDir);
  if (installDir.empty() || !FileExists(launcher)) return;
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                      &key, &disposition) != ERROR_SUCCESS) {
    return;
  }
  auto text = [key](const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  };
  auto number = [key](const wchar_t* name, DWORD value) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  };
  text(L"DisplayName", L"Talvoreen Multiplayer");
  text(L"DisplayVersion", kLauncherVersionW);
  text(L"Publisher", L"TALVOREEN ENTERTAINMENT LTD");
  text(L"DisplayIcon", launcher + L",0");
  text(L"InstallLocation", installDir);
  text(L"UninstallString", L"\"" + launcher + L"\" --uninstall");
  number(L"NoModify", 1);
  number(L"NoRepair", 1);
  if (disposition == REG_CREATED_NEW_KEY) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t date[16];
    swprintf(date, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    text(L"InstallDate", date);
  }
  RegCloseKey(key);
}

void RegisterInstallation(const std::wstring& installDir, bool createStartMenuShortcut) {
  const std::wstring launcher = LauncherIn(installDir);
  if (createStartMenuShortcut) {
    const std::wstring programs = ProgramsFolder();
    if (!programs.empty()) CreateShortcut(JoinPath(programs, kShortcutName), launcher, installDir);
  }
  EnsureDesktopShortcut(launcher, installDir);
  WriteUninstallEntry(installDir);
  RegisterUrlProtocol(installDir);
}
