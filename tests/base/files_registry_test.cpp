#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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

using testing_support::HoldFile;
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

// The names in a folder, for checks that nothing was left beside a file.
std::vector<std::wstring> Names(const TempDir& dir) {
  std::vector<std::wstring> names;
  for (const std::wstring& file : ListTree(dir.Path()).files) names.push_back(file.substr(dir.Path().size() + 1));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WriteFileAtomic, ReplacesTheTargetAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::wstring path = dir.Join(L"state.json");
  ASSERT_TRUE(WriteBytes(path, "old contents that are longer"));
  // What earlier writes left: the plain name of earlier builds, one of a writer that is gone
  // (no process has an odd id), and one of a writer still running, which stays.
  const std::wstring running = L"state.json." + DecimalText(static_cast<unsigned long long>(GetCurrentProcessId())) + L"-0.tmp";
  for (const wchar_t* stale : {L"state.json.tmp", L"state.json.4294967293-7.tmp", running.c_str(), L"state.json.x-1.tmp"}) {
    ASSERT_TRUE(WriteBytes(dir.Join(stale), "stale"));
  }
  ASSERT_TRUE(WriteFileAtomic(path, "new"));
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_EQ(Names(dir), (std::vector<std::wstring>{L"state.json", running, L"state.json.x-1.tmp"}));

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

  // A folder where the file should be.
  ASSERT_TRUE(CreateDirectoryW(dir.Join(L"folder.json").c_str(), nullptr));
  EXPECT_FALSE(WriteFileAtomic(dir.Join(L"folder.json"), "x"));
  EXPECT_EQ(Names(dir), std::vector<std::wstring>{L"locked.json"});
}

// A headless job and the window write one state file at the same time: neither takes the
// other's temporary file, and the one that moves last wins.
TEST(WriteFileAtomic, WritersOfOneFileKeepApart) {
  TempDir dir;
  const std::wstring path = dir.Join(L"installed.json");
  std::wstring error, innerError;
  bool inner = false;
  const bool outer = WriteFileAtomicPieces(
      path,
      [&](const WritePiece& write) {
        if (!write("outer, first half ", 18)) return false;
        inner = WriteFileAtomic(path, "inner", innerError);
        return write("and second", 10);
      },
      error);
  EXPECT_TRUE(inner) << Utf8FromWide(innerError);
  EXPECT_TRUE(outer) << Utf8FromWide(error);
  EXPECT_EQ(ReadBytes(path), "outer, first half and second");
  EXPECT_EQ(Names(dir), std::vector<std::wstring>{L"installed.json"});
}

// A scanner's brief hold: the file is opened without sharing, which fails a move or a delete
// with a sharing violation (Wine enforces it as Windows does). Released while the retries
// wait, the operation succeeds; held for good it fails with that error once they are spent.
TEST(BriefHolds, MovesAndDeletesOutlastAShortHoldOnly) {
  TempDir dir;
  struct Case {
    const char* name;
    std::function<bool(const std::wstring&, RetryBudget*)> act;
    bool retriesWithTheBudget;  // a write's own retries are the move's: its error is the write's
  };
  const Case cases[] = {
      {"move", [](const std::wstring& p, RetryBudget* b) { return MoveFileRetrying(p, p + L".moved", 0, b); }, true},
      {"delete", [](const std::wstring& p, RetryBudget* b) { return DeleteFileRetrying(p, b); }, true},
      {"atomic write", [](const std::wstring& p, RetryBudget*) { return WriteFileAtomic(p, "new"); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.retriesWithTheBudget) {
      const std::wstring released = dir.Join(WideFromUtf8(c.name) + L"-released");
      ASSERT_TRUE(WriteBytes(released, "x"));
      UniqueHandle held = HoldFile(released);
      ASSERT_TRUE(held.Valid());
      RetryBudget budget;
      budget.beforePause = [&] { held.Reset(); };
      EXPECT_TRUE(c.act(released, &budget)) << GetLastError();
      EXPECT_EQ(budget.Pauses(), 1u);
      EXPECT_FALSE(FileExists(released));
    }

    const std::wstring kept = dir.Join(WideFromUtf8(c.name) + L"-kept");
    ASSERT_TRUE(WriteBytes(kept, "x"));
    const UniqueHandle heldForGood = HoldFile(kept);
    ASSERT_TRUE(heldForGood.Valid());
    EXPECT_FALSE(c.act(kept, nullptr));
    if (c.retriesWithTheBudget) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_TRUE(FileExists(kept));
  }
  EXPECT_EQ(ReadBytes(dir.Join(L"move-released.moved")), "x");
}

// Files that stay held share one budget of waits: a tree of them ends within seconds with
// every other file removed and the first failure named, and counts only what is gone.
TEST(BriefHolds, ATreeOfHeldFilesSpendsOneBudget) {
  TempDir dir;
  std::vector<UniqueHandle> holds;
  for (int i = 0; i < 200; ++i) {
    const std::wstring file = dir.Join(L"mods\\" + DecimalText(static_cast<long long>(i / 50)) + L"\\" +
                                       DecimalText(static_cast<long long>(i)) + L".asi");
    ASSERT_TRUE(CreateDirectoryTree(ParentPath(file)));
    ASSERT_TRUE(WriteBytes(file, "mod"));
    if (i % 5 == 0) holds.push_back(HoldFile(file));
    // Held with delete sharing, a delete is accepted while the name stays until the holder
    // closes it (Wine, and Windows without POSIX-style deletes).
    if (i == 1) holds.push_back(HoldFile(file, FILE_SHARE_READ | FILE_SHARE_DELETE));
  }
  std::atomic<unsigned> count{0};
  std::wstring failures;
  RetryBudget budget;
  RemoveTree(dir.Join(L"mods"), count, failures, &budget);
  const size_t left = ListTree(dir.Join(L"mods")).files.size();
  EXPECT_GE(left, 40u);
  EXPECT_EQ(count.load(), 200u - left);
  EXPECT_LT(budget.Pauses(), 20u);
  EXPECT_EQ(failures.rfind(L"Silinemedi (" + dir.Join(L"mods\\"), 0), 0u) << Utf8FromWide(failures);
  EXPECT_FALSE(FileExists(dir.Join(L"mods\\0\\2.asi")));
  holds.clear();
  RemoveTree(dir.Join(L"mods"), count, failures);
  // The file whose delete was pending went with its holder, uncounted.
  EXPECT_GE(count.load(), 199u);
  EXPECT_FALSE(DirectoryExists(dir.Join(L"mods")));
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
