// Removing an installation's files from real folders.
#include <gtest/gtest.h>

#include "base/files.h"
#include "base/text.h"
#include "manifest/installed_state.h"
#include "system/install.h"
#include "system/uninstall.h"
#include "tests/support/test_support.h"

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

class UninstallTest : public ::testing::Test {
 protected:
  void Put(const std::wstring& relative, const std::string& content = "x") {
    const std::wstring path = dir.Join(relative);
    CreateDirectoryTree(ParentPath(path));
    ASSERT_TRUE(WriteBytes(path, content));
  }
  bool Has(const std::wstring& relative) { return GetFileAttributesW(dir.Join(relative).c_str()) != INVALID_FILE_ATTRIBUTES; }

  // An installation as the launcher leaves it.
  void MakeInstallation() {
    Put(L"Talvoreen.exe");
    Put(L"Talvoreen Launcher.exe");
    Put(L"models\\a.img");
    Put(L"models\\sub\\b.img");
    Put(L"data\\gta.dat");
    Put(L"TALVOREEN\\logs\\launcher.log");
    Put(L"TALVOREEN\\screenshots\\shot1.png");
    Put(L"mods\\deathmatch\\resources\\chat\\client.lua");
    Put(L"skins\\s.txd");
    Put(L"GTA-SA\\gta_sa.exe");
    Put(L".talvoreen\\gta\\talvoreen-gtasa.rar.part");
    Put(L".talvoreen\\server-corvel.json");
    Put(L".talvoreen\\download\\3.part");
    Put(L".talvoreen\\manifest-stable.json");
    Put(L"player-notes.txt");
    InstalledState state;
    state.build = "b1";
    state.complete = true;
    for (const char* path : {"Talvoreen.exe", "models/a.img", "models/sub/b.img", "data/gta.dat", "../outside.txt"}) {
      InstalledFile f;
      f.path = path;
      state.files.push_back(f);
    }
    ASSERT_TRUE(WriteInstalledState(dir.Join(L".talvoreen\\installed.json"), state));
  }

  TempDir dir;
  std::atomic<unsigned> removed{0};
  std::wstring error;
};

TEST_F(UninstallTest, CoreRemovesGameFilesAndKeepsWhatIsNotItsOwn) {
  MakeInstallation();
  ASSERT_TRUE(UninstallCore(dir.Path() + L"\\", L"", removed, error)) << Utf8FromWide(error);
  for (const wchar_t* gone : {L"Talvoreen.exe", L"models", L"data", L"TALVOREEN\\logs", L"mods", L"skins",
                              L".talvoreen\\installed.json", L".talvoreen\\server-corvel.json", L".talvoreen\\download"}) {
    EXPECT_FALSE(Has(gone)) << Utf8FromWide(gone);
  }
  for (const wchar_t* kept : {L"Talvoreen Launcher.exe", L"GTA-SA\\gta_sa.exe", L"TALVOREEN\\screenshots\\shot1.png",
                              L".talvoreen\\gta\\talvoreen-gtasa.rar.part", L".talvoreen\\manifest-stable.json",
                              L"player-notes.txt"}) {
    EXPECT_TRUE(Has(kept)) << Utf8FromWide(kept);
  }
  // Talvoreen.exe, two models, gta.dat, the log, client.lua, s.txd, installed.json, the
  // server state and the scratch file.
  EXPECT_EQ(removed.load(), 10u);
}

// An installation at the root of a drive. The Wine runner gives the test prefix a drive T:
// of its own for this.
TEST(UninstallAtDriveRoot, ProtectedFoldersStay) {
  const std::wstring root = L"T:\\";
  if (GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no test drive T:";
  testing_support::RemoveTree(L"T:\\TALVOREEN");
  auto put = [&root](const std::wstring& relative) {
    CreateDirectoryTree(ParentPath(root + relative));
    EXPECT_TRUE(WriteBytes(root + relative, "x")) << Utf8FromWide(relative);
  };
  for (const wchar_t* file : {L"Talvoreen.exe", L"Talvoreen Launcher.exe", L"TALVOREEN\\logs\\launcher.log",
                              L"TALVOREEN\\screenshots\\shot1.png", L"GTA-SA\\gta_sa.exe", L"mods\\gta\\gta_sa.exe",
                              L"mods\\deathmatch\\client.lua", L".talvoreen\\gta\\talvoreen-gtasa.rar.part",
                              L".talvoreen\\server-.json"}) {
    put(file);
  }
  std::atomic<unsigned> removed{0};
  std::wstring error;
  const bool ok = UninstallCore(root, root + L"mods\\gta", removed, error);
  auto has = [&root](const wchar_t* relative) {
    return GetFileAttributesW((root + relative).c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  EXPECT_TRUE(ok) << Utf8FromWide(error);
  for (const wchar_t* kept : {L"Talvoreen Launcher.exe", L"GTA-SA\\gta_sa.exe", L"TALVOREEN\\screenshots\\shot1.png",
                              L".talvoreen\\gta\\talvoreen-gtasa.rar.part", L"mods\\gta\\gta_sa.exe"}) {
    EXPECT_TRUE(has(kept)) << Utf8FromWide(kept);
  }
  for (const wchar_t* gone : {L"Talvoreen.exe", L"TALVOREEN\\logs", L"mods\\deathmatch", L".talvoreen\\server-.json"}) {
    EXPECT_FALSE(has(gone)) << Utf8FromWide(gone);
  }
  for (const wchar_t* top : {L"Talvoreen Launcher.exe", L"GTA-SA", L"TALVOREEN", L"mods", L".talvoreen"}) {
    testing_support::RemoveTree(root + top);
  }

  // An installation in T:\Talvoreen gives the root a folder named as a data folder (names are
  // case-blind); the root is not the installation and nothing of it goes.
  put(L"Talvoreen\\Talvoreen.exe");
  EXPECT_FALSE(HoldsInstallation(root));
  EXPECT_FALSE(UninstallCore(root, L"", removed, error));
  EXPECT_TRUE(has(L"Talvoreen\\Talvoreen.exe"));
  testing_support::RemoveTree(root + L"Talvoreen");
}

TEST_F(UninstallTest, NothingToRemoveWithoutAnInstallation) {
  Put(L"unrelated.txt");
  EXPECT_FALSE(UninstallCore(dir.Path(), L"", removed, error));
  EXPECT_EQ(error, L"Bu klasörde oyun dosyası yok");
  EXPECT_TRUE(Has(L"unrelated.txt"));
}

// What a killed uninstall leaves: the state file is gone, the marker still names the game
// files. Only single safe names count; the marker itself and what it does not name stay.
TEST_F(UninstallTest, TheMarkerOfAKilledUninstallNamesWhatIsLeft) {
  MakeInstallation();
  std::wstring markerError;
  ASSERT_TRUE(WriteUninstallMarker(dir.Path(), markerError)) << Utf8FromWide(markerError);
  ASSERT_TRUE(DeleteFileW(dir.Join(L"Talvoreen.exe").c_str()));
  ASSERT_TRUE(DeleteFileW(dir.Join(L".talvoreen\\installed.json").c_str()));
  testing_support::RemoveTree(dir.Join(L"TALVOREEN"));
  ASSERT_FALSE(IsInstallFolder(dir.Path()));
  const std::string marker = ReadBytes(dir.Join(L".talvoreen-uninstall"));
  ASSERT_TRUE(WriteBytes(dir.Join(L".talvoreen-uninstall"), marker + "..\n.\nplayer-notes.txt/x\nc:\\\n"));
  Put(L"outside-marker\\keep.txt");

  ASSERT_TRUE(HoldsInstallation(dir.Path()));
  ASSERT_TRUE(UninstallCore(dir.Path(), L"", removed, error)) << Utf8FromWide(error);
  for (const wchar_t* gone : {L"models", L"data", L"mods", L"skins"}) EXPECT_FALSE(Has(gone)) << Utf8FromWide(gone);
  for (const wchar_t* kept : {L"player-notes.txt", L"outside-marker\\keep.txt", L"GTA-SA\\gta_sa.exe",
                              L"Talvoreen Launcher.exe", L".talvoreen-uninstall"}) {
    EXPECT_TRUE(Has(kept)) << Utf8FromWide(kept);
  }
}

TEST_F(UninstallTest, RecordedGtaFolderInsideTheInstallationStays) {
  MakeInstallation();
  Put(L"mods\\gta\\gta_sa.exe");
  ASSERT_TRUE(UninstallCore(dir.Path(), dir.Join(L"mods\\gta"), removed, error)) << Utf8FromWide(error);
  EXPECT_TRUE(Has(L"mods\\gta\\gta_sa.exe"));
  EXPECT_FALSE(Has(L"mods\\deathmatch"));
}

TEST_F(UninstallTest, LockedFileIsNamedAndTheRestStillGoes) {
  MakeInstallation();
  const std::wstring locked = dir.Join(L"models\\sub\\b.img");
  bool ok = true;
  {
    testing_support::FileHeldElsewhere holder(locked);
    ASSERT_TRUE(holder.Holding());
    ok = UninstallCore(dir.Path(), L"", removed, error);
  }
  EXPECT_FALSE(ok);
  EXPECT_EQ(error.rfind(L"Bazı dosyalar silinemedi (" + locked + L"): ", 0), 0u) << Utf8FromWide(error);
  EXPECT_TRUE(Has(L"models\\sub\\b.img"));
  EXPECT_FALSE(Has(L"models\\a.img"));
  EXPECT_FALSE(Has(L"Talvoreen.exe"));
  EXPECT_FALSE(Has(L"skins"));
}

TEST_F(UninstallTest, LinksInsideTheInstallationAreNotFollowed) {
  MakeInstallation();
  TempDir outside;
  ASSERT_TRUE(WriteBytes(outside.Join(L"precious.txt"), "keep"));
  const DWORD flags = SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2;  // allow without elevation where supported
  if (!CreateSymbolicLinkW(dir.Join(L"models\\linked").c_str(), outside.Path().c_str(), flags)) {
    GTEST_SKIP() << "no directory links here: " << GetLastError();
  }
  ASSERT_TRUE(UninstallCore(dir.Path(), L"", removed, error)) << Utf8FromWide(error);
  EXPECT_EQ(ReadBytes(outside.Join(L"precious.txt")), "keep");
  std::wstring failures;
  std::atomic<unsigned> count{0};
  ASSERT_TRUE(CreateSymbolicLinkW(dir.Join(L"linked2").c_str(), outside.Path().c_str(), flags));
  RemoveTree(dir.Join(L"linked2"), count, failures);
  EXPECT_EQ(ReadBytes(outside.Join(L"precious.txt")), "keep");
  EXPECT_FALSE(Has(L"linked2"));
}

TEST_F(UninstallTest, RemoveTreeCountsFilesAndReportsTheFirstFailure) {
  Put(L"tree\\a\\b\\c.txt");
  Put(L"tree\\d.txt");
  std::wstring failures;
  RemoveTree(dir.Join(L"tree"), removed, failures);
  EXPECT_EQ(failures, L"");
  EXPECT_FALSE(Has(L"tree"));
  EXPECT_EQ(removed.load(), 2u);
  RemoveTree(dir.Join(L"missing"), removed, failures);
  EXPECT_EQ(failures, L"");
}

TEST_F(UninstallTest, HeadlessJobReportsTheCount) {
  MakeInstallation();
  auto result = testing_support::RunProcess(testing_support::LauncherExePath(),
                                            {L"--headless", L"uninstall", L"--dir", dir.Path()});
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(result.output, "removed 10 files\n");
  // A folder that never held an installation is refused before the job's own log could make
  // it look like one; nothing in it is touched and nothing is created.
  Put(L"plain\\mods\\mine.txt");
  Put(L"plain\\skins\\mine.txd");
  auto again = testing_support::RunProcess(testing_support::LauncherExePath(),
                                           {L"--headless", L"uninstall", L"--dir", dir.Join(L"plain")});
  EXPECT_EQ(again.exitCode, 1u);
  EXPECT_EQ(again.output, "removed 0 files error: Bu klas\xC3\xB6rde oyun dosyas\xC4\xB1 yok\n");
  EXPECT_TRUE(Has(L"plain\\mods\\mine.txt"));
  EXPECT_TRUE(Has(L"plain\\skins\\mine.txd"));
  EXPECT_FALSE(Has(L"plain\\TALVOREEN"));
}

}  // namespace
