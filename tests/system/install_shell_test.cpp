// Installing into a folder and registering with the shell, against the Wine prefix's real
// registry, shell links and known folders.
#include <windows.h>

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <shellapi.h>

#include "base/files.h"
#include "base/registry.h"
#include "base/text.h"
#include "base/version.h"
#include "system/install.h"
#include "system/shell.h"
#include "tests/support/test_support.h"
#include "tests/system/shell_fixture.h"

using testing_support::ReadBytes;
using testing_support::RegistryValueGuard;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

std::wstring FakeLauncher(const wchar_t* name) {
  return testing_support::TestFile(std::wstring(L"fake_launcher_") + name + L".exe");
}

// Leaves the shell state of the prefix as it found it: shortcuts, protocol, uninstall entry.
class ShellTest : public ShellStateTest {
 protected:
  std::wstring Value(const wchar_t* key, const wchar_t* name) { return ReadRegistryString(key, name); }

  RegistryValueGuard installDirGuard{kLauncherRegistryKey, kInstallDirValue};
  TempDir dir;
};

TEST_F(ShellTest, InstallRefusesRootsAndOddFolders) {
  const std::wstring before = Value(kLauncherRegistryKey, kInstallDirValue);
  std::wstring launcher, error;
  // The current folder's own drive: "X:" and "X:." would resolve to that folder.
  const std::wstring drive = dir.Path().substr(0, 2);
  wchar_t previous[MAX_PATH] = {};
  ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(dir.Path().c_str()));
  for (const std::wstring& folder : {std::wstring(L"C:\\"), std::wstring(L"D:"), std::wstring(L"C:\\a;b"), std::wstring(L"C:/"),
                                     drive, drive + L".", std::wstring(L"\\Oyunlar")}) {
    EXPECT_FALSE(InstallIntoFolder(folder, launcher, error)) << Utf8FromWide(folder);
    EXPECT_EQ(error, L"Bu klasör kullanılamaz; örneğin C:\\Talvoreen gibi bir alt klasör seç");
  }
  ASSERT_TRUE(WriteBytes(dir.Join(L"file"), "x"));
  EXPECT_FALSE(InstallIntoFolder(dir.Join(L"file\\below"), launcher, error));
  EXPECT_EQ(error, L"Klasör oluşturulamadı. Yönetici izni gerektirmeyen bir yer seç (örn. C:\\Talvoreen)");
  // The write test cannot put its file there.
  ASSERT_TRUE(CreateDirectoryTree(dir.Join(L"blocked\\.talvoreen-write-test\\in the way")));
  EXPECT_FALSE(InstallIntoFolder(dir.Join(L"blocked"), launcher, error));
  EXPECT_EQ(error, L"Bu klasöre yazma izni yok. Başka bir klasör seç (örn. C:\\Talvoreen)");
  EXPECT_EQ(Value(kLauncherRegistryKey, kInstallDirValue), before);
  EXPECT_FALSE(FileExists(dir.Join(L"Talvoreen Launcher.exe")));
  SetCurrentDirectoryW(previous);
}

TEST_F(ShellTest, InstallCopiesTheLauncherAndRegistersEverything) {
  std::wstring launcher, error;
  const std::wstring folder = dir.Join(L"Oyun Klasörü");
  ASSERT_TRUE(InstallIntoFolder(folder + L"\\", launcher, error)) << Utf8FromWide(error);
  EXPECT_EQ(launcher, JoinPath(folder, L"Talvoreen Launcher.exe"));
  EXPECT_EQ(ReadBytes(launcher), ReadBytes(GetModulePath()));
  EXPECT_FALSE(FileExists(JoinPath(folder, L".talvoreen-write-test")));
  EXPECT_EQ(Value(kLauncherRegistryKey, kInstallDirValue), folder);
  EXPECT_TRUE(EqualsIgnoreCase(ReadShortcutTarget(JoinPath(desktop, kShortcutName)), launcher));
  EXPECT_TRUE(EqualsIgnoreCase(ReadShortcutTarget(JoinPath(programs, kShortcutName)), launcher));

  EXPECT_EQ(Value(kProtocolKey, L""), L"URL:Talvoreen Multiplayer");
  EXPECT_EQ(Value(kProtocolKey, L"URL Protocol"), L"");
  EXPECT_EQ(Value((std::wstring(kProtocolKey) + L"\\DefaultIcon").c_str(), L""), launcher + L",0");
  const std::wstring command = Value((std::wstring(kProtocolKey) + L"\\shell\\open\\command").c_str(), L"");
  EXPECT_EQ(command, L"\"" + launcher + L"\" --link \"%1\"");

  // Windows substitutes the link for %1; the launcher must see "--link" and the link.
  std::wstring started = command;
  const std::wstring link = L"talvoreen://corvel/";
  started.replace(started.find(L"%1"), 2, link);
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(started.c_str(), &count);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(std::wstring(argv[0]), launcher);
  EXPECT_EQ(std::wstring(argv[1]), L"--link");
  EXPECT_EQ(std::wstring(argv[2]), link);
  LocalFree(argv);
}

TEST_F(ShellTest, UninstallEntryValuesInOrderAndTheFirstInstallDateKept) {
  std::wstring launcher, error;
  ASSERT_TRUE(InstallIntoFolder(dir.Path(), launcher, error));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  std::vector<std::pair<std::wstring, DWORD>> values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[64];
    DWORD length = 64, type = 0;
    if (RegEnumValueW(key, i, name, &length, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) break;
    values.emplace_back(name, type);
  }
  DWORD noModify = 0, size = sizeof(noModify);
  RegQueryValueExW(key, L"NoModify", nullptr, nullptr, reinterpret_cast<BYTE*>(&noModify), &size);
  RegCloseKey(key);
  const std::vector<std::pair<std::wstring, DWORD>> expected = {
      {L"DisplayName", REG_SZ},     {L"DisplayVersion", REG_SZ},  {L"Publisher", REG_SZ},
      {L"DisplayIcon", REG_SZ},     {L"InstallLocation", REG_SZ}, {L"UninstallString", REG_SZ},
      {L"NoModify", REG_DWORD},     {L"NoRepair", REG_DWORD},     {L"InstallDate", REG_SZ}};
  // Wine enumerates values sorted by name, so only the set of names and types is compared.
  auto sorted = [](std::vector<std::pair<std::wstring, DWORD>> list) {
    std::sort(list.begin(), list.end());
    return list;
  };
  EXPECT_EQ(sorted(values), sorted(expected));
  EXPECT_EQ(noModify, 1u);
  EXPECT_EQ(Value(kUninstallKey, L"UninstallString"), L"\"" + launcher + L"\" --uninstall");
  EXPECT_EQ(Value(kUninstallKey, L"DisplayVersion"), L"0.4.21");
  EXPECT_EQ(Value(kUninstallKey, L"InstallLocation"), dir.Path());
  const std::wstring date = Value(kUninstallKey, L"InstallDate");
  ASSERT_EQ(date.size(), 8u);
  EXPECT_EQ(date.find_first_not_of(L"0123456789"), std::wstring::npos);

  WriteRegistryString(kUninstallKey, L"InstallDate", L"19990101");
  WriteUninstallEntry(dir.Path());
  EXPECT_EQ(Value(kUninstallKey, L"InstallDate"), L"19990101");
}

TEST_F(ShellTest, DesktopShortcutBelongingToThePlayerIsNeverReplaced) {
  const std::wstring link = JoinPath(desktop, kShortcutName);
  ASSERT_TRUE(WriteBytes(dir.Join(L"notepad-ish.exe"), "MZ"));
  ASSERT_TRUE(CreateShortcut(link, dir.Join(L"notepad-ish.exe"), dir.Path()));
  ASSERT_TRUE(WriteBytes(dir.Join(L"Talvoreen Launcher.exe"), "MZ"));
  EnsureDesktopShortcut(dir.Join(L"Talvoreen Launcher.exe"), dir.Path());
  EXPECT_TRUE(EqualsIgnoreCase(ReadShortcutTarget(link), dir.Join(L"notepad-ish.exe")));
  EXPECT_FALSE(ShortcutPointsToLauncher(link));
}

TEST_F(ShellTest, OurShortcutToAnOldFolderIsRecreated) {
  TempDir old;
  ASSERT_TRUE(WriteBytes(old.Join(L"Talvoreen Launcher.exe"), "MZ"));
  ASSERT_TRUE(WriteBytes(dir.Join(L"Talvoreen Launcher.exe"), "MZ"));
  const std::wstring link = JoinPath(desktop, kShortcutName);
  ASSERT_TRUE(CreateShortcut(link, old.Join(L"Talvoreen Launcher.exe"), old.Path()));
  EXPECT_TRUE(ShortcutPointsToLauncher(link));
  EnsureDesktopShortcut(dir.Join(L"Talvoreen Launcher.exe"), dir.Path());
  EXPECT_TRUE(EqualsIgnoreCase(ReadShortcutTarget(link), dir.Join(L"Talvoreen Launcher.exe")));
  // Nothing is registered for a folder without a launcher.
  TempDir empty;
  RegisterUrlProtocol(empty.Path());
  WriteUninstallEntry(empty.Path());
  EXPECT_EQ(Value(kUninstallKey, L"DisplayName"), L"");
}

TEST_F(ShellTest, VersionResourcesAreReadFromTheFiles) {
  EXPECT_TRUE(IsLauncherExecutable(FakeLauncher(L"v0419")));
  EXPECT_FALSE(IsLauncherExecutable(FakeLauncher(L"other")));
  EXPECT_FALSE(IsLauncherExecutable(dir.Path()));
  EXPECT_EQ(FileVersionText(FakeLauncher(L"v0419")), L"0.4.19");
  EXPECT_EQ(FileVersionText(FakeLauncher(L"v0422")), L"0.4.22");
  EXPECT_EQ(FileVersionText(GetModulePath()), L"");  // the test program has no version resource
  EXPECT_TRUE(IsLauncherExecutable(testing_support::LauncherExePath()));
  // The install compares these numbers: they must be the version the code runs as.
  EXPECT_EQ(FileVersionText(testing_support::LauncherExePath()), kLauncherVersionW);
}

TV_CHILD_ROLE(install_here) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::wstring launcher, error;
  const bool ok = InstallIntoFolder(ParentPath(GetModulePath()), launcher, error);
  std::printf("%d %s", ok, Utf8FromWide(launcher).c_str());
  return ok ? 0 : 1;
}

TEST_F(ShellTest, InstallingIntoTheRunningLaunchersFolderCopiesNothing) {
  const std::wstring copy = dir.Join(L"Talvoreen Launcher.exe");
  ASSERT_TRUE(CopyFileW(GetModulePath().c_str(), copy.c_str(), FALSE));
  FILETIME before{};
  HANDLE h = CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  GetFileTime(h, nullptr, nullptr, &before);
  CloseHandle(h);
  auto result = testing_support::RunProcess(copy, {L"--child", L"install_here"});
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(Value(kLauncherRegistryKey, kInstallDirValue), dir.Path());
  FILETIME after{};
  h = CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  GetFileTime(h, nullptr, nullptr, &after);
  CloseHandle(h);
  EXPECT_EQ(CompareFileTime(&before, &after), 0);
}

TV_CHILD_ROLE(migrate) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  MigrateDesktopLaunchers();
  return 0;
}

// Runs MigrateDesktopLaunchers from a copy of this program on the desktop.
void RunDesktopCopy(const std::wstring& desktop, const wchar_t* name) {
  const std::wstring copy = JoinPath(desktop, name);
  ASSERT_TRUE(CopyFileW(GetModulePath().c_str(), copy.c_str(), FALSE));
  auto result = testing_support::RunProcess(copy, {L"--child", L"migrate"});
  EXPECT_EQ(result.exitCode, 0u);
}

TEST_F(ShellTest, DesktopCopyReplacesAnOlderInstalledLauncherOnly) {
  struct Case {
    const wchar_t* installed;
    bool replaced;
  } cases[] = {{L"v0419", true}, {L"v0421", false}, {L"v0422", false}};
  for (const Case& c : cases) {
    RemoveShellRegistration();
    TempDir install;
    const std::wstring launcher = install.Join(L"Talvoreen Launcher.exe");
    ASSERT_TRUE(CopyFileW(FakeLauncher(c.installed).c_str(), launcher.c_str(), FALSE));
    WriteRegistryString(kLauncherRegistryKey, kInstallDirValue, install.Path());
    RunDesktopCopy(desktop, L"Talvoreen Client.exe");
    EXPECT_EQ(ReadBytes(launcher) == ReadBytes(GetModulePath()), c.replaced) << Utf8FromWide(c.installed);
    EXPECT_FALSE(FileExists(launcher + L".new"));
    EXPECT_TRUE(EqualsIgnoreCase(ReadShortcutTarget(JoinPath(desktop, kShortcutName)), launcher));
    EXPECT_EQ(Value(kUninstallKey, L"InstallLocation"), install.Path());
  }
}

TEST_F(ShellTest, MigrationDeletesOnlyOurOwnDesktopCopiesAndLegacyShortcuts) {
  TempDir install;
  const std::wstring launcher = install.Join(L"Talvoreen Launcher.exe");
  ASSERT_TRUE(CopyFileW(FakeLauncher(L"v0421").c_str(), launcher.c_str(), FALSE));
  WriteRegistryString(kLauncherRegistryKey, kInstallDirValue, install.Path());
  const std::wstring ours = JoinPath(desktop, L"Talvoreen Multiplayer.exe");
  ASSERT_TRUE(CopyFileW(FakeLauncher(L"v0419").c_str(), ours.c_str(), FALSE));
  ASSERT_TRUE(CreateShortcut(JoinPath(desktop, kLegacyShortcutName), launcher, install.Path()));
  ASSERT_TRUE(CreateShortcut(JoinPath(programs, kLegacyShortcutName), launcher, install.Path()));
  RunDesktopCopy(desktop, L"Talvoreen Client.exe");
  EXPECT_FALSE(FileExists(ours));
  EXPECT_FALSE(FileExists(JoinPath(desktop, kLegacyShortcutName)));
  EXPECT_FALSE(FileExists(JoinPath(programs, kLegacyShortcutName)));
  EXPECT_TRUE(EqualsIgnoreCase(ReadShortcutTarget(JoinPath(programs, kShortcutName)), launcher));

  RemoveShellRegistration();
  ASSERT_TRUE(CopyFileW(FakeLauncher(L"other").c_str(), ours.c_str(), FALSE));
  RunDesktopCopy(desktop, L"Talvoreen Client.exe");
  EXPECT_TRUE(FileExists(ours));  // another program that happens to have that name
}

TEST_F(ShellTest, CopyFileSafelyLeavesNoScratchFileAndSparesTheUpdatersStagedOne) {
  ASSERT_TRUE(WriteBytes(dir.Join(L"src"), "new bytes"));
  ASSERT_TRUE(WriteBytes(dir.Join(L"dst"), "old"));
  // The self-updater stages the next launcher beside the same target at the same time.
  ASSERT_TRUE(WriteBytes(dir.Join(L"dst.new"), "staged by the updater"));
  EXPECT_TRUE(CopyFileSafely(dir.Join(L"src"), dir.Join(L"dst")));
  EXPECT_EQ(ReadBytes(dir.Join(L"dst")), "new bytes");
  EXPECT_EQ(ReadBytes(dir.Join(L"dst.new")), "staged by the updater");
  EXPECT_FALSE(FileExists(CopyScratchPath(dir.Join(L"dst"))));
  HANDLE held = CreateFileW(dir.Join(L"dst").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(CopyFileSafely(dir.Join(L"src"), dir.Join(L"dst")));
  CloseHandle(held);
  EXPECT_FALSE(FileExists(CopyScratchPath(dir.Join(L"dst"))));
  EXPECT_EQ(ReadBytes(dir.Join(L"dst.new")), "staged by the updater");
  EXPECT_FALSE(CopyFileSafely(dir.Join(L"missing"), dir.Join(L"dst")));
}

}  // namespace
