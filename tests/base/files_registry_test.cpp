#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "base/files.h"
#include "base/handles.h"
#include "base/launch_options.h"
#include "base/registry.h"
#include "base/text.h"
#include "base/version.h"
#include "system/install.h"
#include "tests/support/test_support.h"

using testing_support::ReadBytes;
using testing_support::RegistryValueGuard;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

TEST(NormalizePath, MakesFullPathsWithoutTrailingSeparators) {
  TempDir dir;
  EXPECT_EQ(NormalizePath(dir.Path() + L"/sub//x/../y/"), dir.Path() + L"\\sub\\y");
  EXPECT_EQ(NormalizePath(L"C:\\"), L"C:\\");
  EXPECT_EQ(NormalizePath(L"C:/Games/"), L"C:\\Games");
  EXPECT_EQ(NormalizePath(L""), L"");

  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  SetCurrentDirectoryW(dir.Path().c_str());
  EXPECT_EQ(NormalizePath(L"rel\\.\\dir\\"), dir.Path() + L"\\rel\\dir");
  SetCurrentDirectoryW(cwd);

  // Longer than MAX_PATH: the buffer has to grow.
  std::wstring longPath = L"C:\\" + std::wstring(300, L'a') + L"\\b";
  EXPECT_EQ(NormalizePath(longPath), longPath);
}

// Wine takes plain paths of any length, so the sync tests under Wine cannot tell whether a call
// got the extended form; this pins the form itself.
TEST(LongPath, ExtendedFormFromTheLengthWhereWindowsStopsTakingPlainPaths) {
  const std::wstring folder = L"C:\\Talvoreen\\mods\\deathmatch\\";
  const std::wstring shortPath = folder + std::wstring(247 - folder.size(), L'a');
  ASSERT_EQ(shortPath.size(), 247u);
  EXPECT_EQ(LongPath(shortPath), shortPath);
  const std::wstring limit = shortPath + L"a";
  EXPECT_EQ(LongPath(limit), L"\\\\?\\" + limit);
  // Normalised first: the system takes the extended form literally.
  const std::wstring tail = std::wstring(240, L'b') + L"\\c.txt";
  EXPECT_EQ(LongPath(L"C:/Talvoreen/./x/../mods//" + tail), L"\\\\?\\C:\\Talvoreen\\mods\\" + tail);
  EXPECT_EQ(LongPath(L"\\\\server\\share\\" + tail), L"\\\\?\\UNC\\server\\share\\" + tail);
  EXPECT_EQ(LongPath(L"\\\\?\\C:\\" + tail), L"\\\\?\\C:\\" + tail);
}

// TEMP as Windows gives it for many user names: the 8.3 form is spelled long again, and the
// running program's path comes long whichever form started it.
TEST(LongPathName, SpellsShortNamesLong) {
  TempDir dir;
  const std::wstring folder = dir.Join(L"Uzun Klasör Adı Burada");
  ASSERT_TRUE(CreateDirectoryTree(folder));
  wchar_t shortForm[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameW(folder.c_str(), shortForm, MAX_PATH), 0u);
  ASSERT_NE(std::wstring(shortForm), folder) << "no short names on this file system";
  EXPECT_EQ(LongPathName(shortForm), folder);
  const std::wstring missing = JoinPath(shortForm, L"yok");
  EXPECT_EQ(LongPathName(missing), missing);
  EXPECT_EQ(LongPathName(GetModulePath()), GetModulePath());
}

TEST(FileChecks, TellFilesFromFolders) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.Join(L"f.txt"), "x"));
  EXPECT_TRUE(FileExists(dir.Join(L"f.txt")));
  EXPECT_FALSE(DirectoryExists(dir.Join(L"f.txt")));
  EXPECT_TRUE(DirectoryExists(dir.Path()));
  EXPECT_FALSE(FileExists(dir.Path()));
  EXPECT_FALSE(FileExists(dir.Join(L"missing")));
  EXPECT_TRUE(CreateDirectoryTree(dir.Join(L"a\\b\\c")));
  EXPECT_TRUE(DirectoryExists(dir.Join(L"a\\b\\c")));
  EXPECT_FALSE(CreateDirectoryTree(dir.Join(L"f.txt\\below")));  // a file stands in the way
}

TEST(WriteFileAtomic, ReplacesTheTargetAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::wstring path = dir.Join(L"state.json");
  ASSERT_TRUE(WriteBytes(path, "old contents that are longer"));
  ASSERT_TRUE(WriteFileAtomic(path, "new"));
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_FALSE(FileExists(path + L".tmp"));

  std::string big(5 * 1024 * 1024 + 3, 'z');
  ASSERT_TRUE(WriteFileAtomic(path, big));
  EXPECT_EQ(ReadBytes(path), big);
  ASSERT_TRUE(WriteFileAtomic(path, ""));
  EXPECT_EQ(ReadBytes(path), "");
}

TEST(WriteFileAtomic, FailureKeepsTheOldFileAndCleansUp) {
  TempDir dir;
  EXPECT_FALSE(WriteFileAtomic(dir.Join(L"missing-folder\\x.json"), "data"));

  // The target is held open without delete sharing, so the final move must fail.
  const std::wstring path = dir.Join(L"locked.json");
  ASSERT_TRUE(WriteBytes(path, "keep"));
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteFileAtomic(path, "replacement"));
  CloseHandle(held);
  EXPECT_EQ(ReadBytes(path), "keep");
  EXPECT_FALSE(FileExists(path + L".tmp"));

  // A folder where the file should be.
  ASSERT_TRUE(CreateDirectoryW(dir.Join(L"folder.json").c_str(), nullptr));
  EXPECT_FALSE(WriteFileAtomic(dir.Join(L"folder.json"), "x"));
  EXPECT_FALSE(FileExists(dir.Join(L"folder.json.tmp")));
}

// A scanner's brief hold: the file is opened without sharing, which fails a move or a delete
// with a sharing violation (Wine enforces it as Windows does). Released after 300 ms the
// operation succeeds; held for good it fails with that error once the retries are spent.
TEST(BriefHolds, MovesAndDeletesOutlastAShortHoldOnly) {
  TempDir dir;
  struct Case {
    const char* name;
    std::function<bool(const std::wstring&)> act;
    bool leavesItsError;
  };
  const Case cases[] = {
      {"move", [](const std::wstring& p) { return MoveFileRetrying(p, p + L".moved", MOVEFILE_REPLACE_EXISTING); },
       true},
      {"delete", [](const std::wstring& p) { return DeleteFileRetrying(p); }, true},
      {"atomic write", [](const std::wstring& p) { return WriteFileAtomic(p, "new"); }, false},
  };
  auto hold = [](const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring released = dir.Join(WideFromUtf8(c.name) + L"-released");
    ASSERT_TRUE(WriteBytes(released, "x"));
    const HANDLE held = hold(released);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread releaser([held] {
      Sleep(300);
      CloseHandle(held);
    });
    const bool done = c.act(released);
    releaser.join();
    EXPECT_TRUE(done) << GetLastError();

    const std::wstring kept = dir.Join(WideFromUtf8(c.name) + L"-kept");
    ASSERT_TRUE(WriteBytes(kept, "x"));
    UniqueHandle heldForGood(hold(kept));
    ASSERT_TRUE(heldForGood.Valid());
    EXPECT_FALSE(c.act(kept));
    if (c.leavesItsError) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_TRUE(FileExists(kept));
  }
  EXPECT_FALSE(FileExists(dir.Join(L"move-released")));
  EXPECT_EQ(ReadBytes(dir.Join(L"move-released.moved")), "x");
  EXPECT_FALSE(FileExists(dir.Join(L"delete-released")));
  EXPECT_EQ(ReadBytes(dir.Join(L"atomic write-released")), "new");
}

// Windows keeps a download's mark of the web in a ":Zone.Identifier" stream, which CopyFileW
// copies; Wine has no streams.
TEST(CopyFileUnmarked, LeavesTheMarkOfTheWebBehind) {
  TempDir dir;
  const std::wstring source = dir.Join(L"downloaded.exe");
  ASSERT_TRUE(WriteBytes(source, "MZ"));
  const std::string zone = "[ZoneTransfer]\r\nZoneId=3\r\n";
  if (!WriteBytes(source + L":Zone.Identifier", zone) || ListTree(dir.Path()).files.size() != 1) {
    GTEST_SKIP() << "no alternate data streams on this file system";
  }
  ASSERT_TRUE(CopyFileW(source.c_str(), dir.Join(L"plain-copy.exe").c_str(), FALSE));
  ASSERT_EQ(ReadBytes(dir.Join(L"plain-copy.exe:Zone.Identifier")), zone);  // what the helper is for

  const std::wstring copy = dir.Join(L"Talvoreen Launcher.exe");
  ASSERT_TRUE(CopyFileUnmarked(source, copy));
  EXPECT_EQ(ReadBytes(copy), "MZ");
  EXPECT_EQ(GetFileAttributesW((copy + L":Zone.Identifier").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ReadBytes(source + L":Zone.Identifier"), zone);
  EXPECT_FALSE(CopyFileUnmarked(dir.Join(L"missing.exe"), copy));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Registry, StringValuesOnly) {
  const std::wstring key = L"Software\\Talvoreen\\LauncherTests";
  EXPECT_EQ(ReadRegistryString(key + L"\\Missing", L"x"), L"");
  ASSERT_TRUE(WriteRegistryString(key + L"\\Deep\\Er", L"Text", L"Çalışma klasörü"));
  EXPECT_EQ(ReadRegistryString(key + L"\\Deep\\Er", L"Text"), L"Çalışma klasörü");
  ASSERT_TRUE(WriteRegistryString(key, L"Empty", L""));
  EXPECT_EQ(ReadRegistryString(key, L"Empty"), L"");

  HKEY handle = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr),
            ERROR_SUCCESS);
  DWORD number = 7;
  RegSetValueExW(handle, L"Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), sizeof(number));
  const wchar_t expand[] = L"%TEMP%";
  RegSetValueExW(handle, L"Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand), sizeof(expand));
  const wchar_t unterminated[] = {L'a', L'b', L'c'};
  RegSetValueExW(handle, L"Unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated), sizeof(unterminated));
  RegCloseKey(handle);
  EXPECT_EQ(ReadRegistryString(key, L"Number"), L"");
  EXPECT_EQ(ReadRegistryString(key, L"Expand"), L"");
  EXPECT_EQ(ReadRegistryString(key, L"Unterminated"), L"abc");

  EXPECT_TRUE(DeleteRegistryValue(key, L"Number"));
  EXPECT_FALSE(DeleteRegistryValue(key, L"Number"));
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

TEST(Registry, SelectedServerIsStoredAsItsKey) {
  RegistryValueGuard guard(kLauncherRegistryKey, kSelectedServerValue);
  WriteSelectedServer(2);
  EXPECT_EQ(ReadRegistryString(kLauncherRegistryKey, kSelectedServerValue), L"meridian");
  EXPECT_EQ(ReadSelectedServer(), 2);
  WriteRegistryString(kLauncherRegistryKey, kSelectedServerValue, L"Meridian");
  EXPECT_EQ(ReadSelectedServer(), -1);
  WriteSelectedServer(7);  // out of range: nothing written
  EXPECT_EQ(ReadRegistryString(kLauncherRegistryKey, kSelectedServerValue), L"Meridian");
}

TEST(InstallFolder, RecognisedByGameOrStateFile) {
  TempDir dir;
  EXPECT_FALSE(IsInstallFolder(L""));
  EXPECT_FALSE(IsInstallFolder(dir.Path()));
  ASSERT_TRUE(CreateDirectoryW(dir.Join(L"Talvoreen.exe").c_str(), nullptr));  // a folder does not count
  EXPECT_FALSE(IsInstallFolder(dir.Path()));
  ASSERT_TRUE(CreateDirectoryTree(dir.Join(L".talvoreen")));
  ASSERT_TRUE(WriteBytes(dir.Join(L".talvoreen\\installed.json"), "{}"));
  EXPECT_TRUE(IsInstallFolder(dir.Path()));

  TempDir game;
  ASSERT_TRUE(WriteBytes(game.Join(L"Talvoreen.exe"), "MZ"));
  EXPECT_TRUE(IsInstallFolder(game.Path()));
}

TEST(InstallFolder, RegisteredFolderMustStillHoldSomething) {
  RegistryValueGuard guard(kLauncherRegistryKey, kInstallDirValue);
  TempDir dir;
  WriteRegistryString(kLauncherRegistryKey, kInstallDirValue, dir.Path());
  EXPECT_EQ(RegisteredInstallDir(), L"");
  ASSERT_TRUE(WriteBytes(dir.Join(kLauncherExeName), "MZ"));
  EXPECT_EQ(RegisteredInstallDir(), dir.Path());

  // FindExistingInstall normalises what the registry holds.
  WriteRegistryString(kLauncherRegistryKey, kInstallDirValue, dir.Path() + L"\\.\\");
  EXPECT_EQ(FindExistingInstall(), dir.Path());
  DeleteRegistryValue(kLauncherRegistryKey, kInstallDirValue);
  EXPECT_EQ(RegisteredInstallDir(), L"");
}

TEST(DevelopmentTree, RealFilesDecide) {
  TempDir tree;
  ASSERT_TRUE(CreateDirectoryTree(tree.Join(L"Bin\\launcher")));
  const std::wstring exe = tree.Join(L"Bin\\launcher\\Talvoreen Launcher.exe");
  EXPECT_FALSE(IsDevelopmentTree(exe, &FileExists));
  ASSERT_TRUE(CreateDirectoryW(tree.Join(L"premake5.lua").c_str(), nullptr));  // a folder does not count
  EXPECT_FALSE(IsDevelopmentTree(exe, &FileExists));
  RemoveDirectoryW(tree.Join(L"premake5.lua").c_str());
  ASSERT_TRUE(WriteBytes(tree.Join(L"premake5.lua"), "-- build"));
  EXPECT_TRUE(IsDevelopmentTree(exe, &FileExists));
}

}  // namespace
