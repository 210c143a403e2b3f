// GtaInstaller with real RAR archives (made by tests/gta/make_test_archives.sh) served from
// a loopback server or placed in the work folder.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "base/files.h"
#include "base/handles.h"
#include "base/log.h"
#include "base/registry.h"
#include "base/text.h"
#include "gta/archive_rules.h"
#include "gta/gta_installer.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using testing_support::HoldFile;
using testing_support::HttpTestServer;
using testing_support::ReadBytes;
using testing_support::RegistryValueGuard;
using testing_support::TempDir;
using testing_support::TestRequest;
using testing_support::TestResponse;
using testing_support::WriteBytes;

namespace {

std::string Archive(const std::string& name) {
  const std::string bytes =
      ReadBytes(testing_support::TestFile(L"test-archives\\" + WideFromUtf8(name)));
  EXPECT_FALSE(bytes.empty()) << "missing test archive " << name;
  return bytes;
}

class GtaInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLogDirectory(dir.Join(L"TALVOREEN\\logs")); }

  // Runs over what the install folder holds, with no server to download from.
  GtaSnapshot RunOffline(bool reinstall = false, const std::function<void(GtaInstaller&)>& prepare = nullptr) {
    GtaInstaller installer(dir.Path(), L"http://127.0.0.1:9/unused");
    if (prepare) prepare(installer);
    installer.Start(reinstall);
    installer.Join();
    return installer.GetSnapshot();
  }

  // Installs from an archive already in the work folder (no download).
  GtaSnapshot RunWithArchive(const std::string& name, bool reinstall) {
    EXPECT_TRUE(CreateDirectoryTree(probe.WorkFolder()));
    EXPECT_TRUE(WriteBytes(probe.ArchivePath(), Archive(name)));
    return RunOffline(reinstall);
  }

  std::string Log() { return ReadBytes(dir.Join(L"TALVOREEN\\logs\\launcher.log")); }

  RegistryValueGuard registry{kCommonRegistryKey, kGtaFolderValue};
  TempDir dir;
  GtaInstaller probe{dir.Path(), L""};  // never started: its paths and IsInstalled
};

TEST_F(GtaInstallerTest, DownloadsUnpacksOnlyTheGameAndRegistersIt) {
  DeleteRegistryValue(kCommonRegistryKey, kGtaFolderValue);
  const std::string archive = Archive("good.rar");
  HttpTestServer server([&](const TestRequest&) {
    TestResponse r;
    r.body = archive;
    r.headers = {{"ETag", "\"gta-1\""}};
    return r;
  });
  GtaInstaller installer(dir.Path(), server.Url("/talvoreen-gtasa.zip"));
  EXPECT_FALSE(installer.IsInstalled());
  // An archive made on Windows can hold read-only files; they are flushed all the same.
  const std::wstring readOnly = dir.Join(L"GTA-SA\\data\\gta.dat");
  installer.SetUnpackedFileHook([&](const std::wstring& path) {
    if (path == readOnly) {
      EXPECT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
  });
  installer.Start(false);
  installer.Join();
  const GtaSnapshot s = installer.GetSnapshot();
  ASSERT_EQ(s.status, kGtaDone) << Utf8FromWide(s.message);
  const std::wstring game = dir.Join(L"GTA-SA");
  EXPECT_EQ(s.folder, game);
  EXPECT_EQ(s.downloadDone, archive.size());
  EXPECT_EQ(s.downloadTotal, archive.size());
  EXPECT_EQ(s.filesTotal, 5u);  // the encrypted entry is counted but never unpacked
  EXPECT_EQ(s.filesDone, 4u);
  EXPECT_EQ(s.extractTotal, 300000u + 20000u + 25u + 14u + 7u);
  EXPECT_GT(s.extractDone, 0u);

  EXPECT_TRUE(FileExists(JoinPath(game, L"gta_sa.exe")));
  EXPECT_EQ(ReadBytes(JoinPath(game, L"models\\gta3.img")).size(), 300000u);
  EXPECT_TRUE(FileExists(JoinPath(game, L"data\\maps\\city.ipl")));
  EXPECT_EQ(GetFileAttributesW(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY, DWORD(FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(FileExists(dir.Join(L"top.txt")));
  EXPECT_FALSE(FileExists(dir.Join(L"escape.txt")));
  EXPECT_FALSE(FileExists(JoinPath(game, L"secret.txt")));
  EXPECT_EQ(GetFileAttributesW(JoinPath(game, L"link-to-exe").c_str()), INVALID_FILE_ATTRIBUTES);

  EXPECT_FALSE(FileExists(installer.ArchivePath()));
  EXPECT_FALSE(FileExists(installer.ArchivePath() + L".part.validator"));
  EXPECT_TRUE(installer.IsInstalled());
  EXPECT_TRUE(GetFileAttributesW(dir.Join(L".talvoreen").c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(ReadRegistryString(kCommonRegistryKey, kGtaFolderValue), game);
  EXPECT_NE(Log().find("[gta] GTA folder (none) -> " + Utf8FromWide(game)), std::string::npos);
}

TEST_F(GtaInstallerTest, UnusableArchivesAreDeletedWithTheirTexts) {
  struct Case {
    const char* archive;
    const wchar_t* message;
  } cases[] = {
      {"no-game.rar", L"Arşivde beklenen dosyalar yok"},
      {"multi-volume.rar", L"Beklenmeyen arşiv biçimi"},
      {"header-encrypted.rar", L"Beklenmeyen arşiv biçimi"},
      {"corrupt.rar", L"İndirilen arşiv bozuk; bir sonraki denemede yeniden indirilecek"},
      // Found by the listing pass, while the archive is still open there.
      {"header-corrupt.rar", L"İndirilen arşiv bozuk; bir sonraki denemede yeniden indirilecek"},
  };
  for (const Case& c : cases) {
    const GtaSnapshot s = RunWithArchive(c.archive, false);
    EXPECT_EQ(s.status, kGtaFailed) << c.archive;
    EXPECT_EQ(s.message, c.message) << c.archive << ": " << Utf8FromWide(s.message);
    EXPECT_FALSE(FileExists(probe.ArchivePath())) << c.archive;
    EXPECT_NE(Log().find("[gta] failed: " + Utf8FromWide(c.message)), std::string::npos) << c.archive;
  }
}

// Failures of the machine rather than of the archive: however often they repeat, the complete
// archive stays and the next start unpacks it without downloading it again.
TEST_F(GtaInstallerTest, FilesThatCannotBeWrittenNeverCostTheArchive) {
  const std::string archive = Archive("good.rar");
  HttpTestServer server([&](const TestRequest&) {
    TestResponse r;
    r.body = archive;
    return r;
  });
  const std::wstring held = dir.Join(L"GTA-SA\\data\\gta.dat");
  auto holdExclusively = [](const std::wstring& path) {
    auto handle = std::make_shared<UniqueHandle>(HoldFile(path));
    EXPECT_TRUE(handle->Valid());
    return [handle] { handle->Reset(); };
  };
  struct Case {
    const char* name;
    std::function<std::function<void()>()> block;  // blocks the unpacking, returns the release
    std::wstring message;
    size_t downloads;
  } cases[] = {
      {"held by another program",
       [&] {
         EXPECT_TRUE(CreateDirectoryTree(dir.Join(L"GTA-SA\\data")));
         EXPECT_TRUE(WriteBytes(held, "an older file"));
         return holdExclusively(held);
       },
       L"Dosya başka bir program tarafından kullanılıyor: " + held, 1},
      // The archive cannot be opened ("cannot open"), yet nothing is wrong with it.
      {"archive held by another program",
       [&] {
         EXPECT_TRUE(CreateDirectoryTree(probe.WorkFolder()));
         EXPECT_TRUE(WriteBytes(probe.ArchivePath(), archive));
         return holdExclusively(probe.ArchivePath());
       },
       L"Dosya başka bir program tarafından kullanılıyor: " + probe.ArchivePath(), 0},
      {"a file where a folder belongs",
       [&] {
         EXPECT_TRUE(CreateDirectoryTree(dir.Join(L"GTA-SA")));
         EXPECT_TRUE(WriteBytes(dir.Join(L"GTA-SA\\data"), "in the way"));
         return [&] { EXPECT_TRUE(DeleteFileW(dir.Join(L"GTA-SA\\data").c_str())); };
       },
       L"Dosyalar diske yazılamadı: ", 1},
  };
  for (Case& c : cases) {
    DeleteTree(dir.Join(L"GTA-SA"));
    DeleteTree(probe.WorkFolder());
    const size_t requests = server.Requests().size();
    auto attempt = [&] {
      GtaInstaller installer(dir.Path(), server.Url("/gta.rar"));
      installer.Start(false);
      installer.Join();
      return installer.GetSnapshot();
    };
    auto release = c.block();
    for (int i = 0; i < 2; ++i) {
      const GtaSnapshot s = attempt();
      EXPECT_EQ(s.status, kGtaFailed) << c.name;
      // A text ending in a space is followed by the system's own words for the error.
      if (c.message.back() == L' ') {
        EXPECT_EQ(s.message.substr(0, c.message.size()), c.message) << c.name << ": " << Utf8FromWide(s.message);
        EXPECT_GT(s.message.size(), c.message.size()) << c.name;
      } else {
        EXPECT_EQ(s.message, c.message) << c.name << ": " << Utf8FromWide(s.message);
      }
      EXPECT_TRUE(FileExists(probe.ArchivePath())) << c.name << " attempt " << i;
      EXPECT_FALSE(FileExists(probe.FailureRecordPath())) << c.name;
      EXPECT_FALSE(probe.IsInstalled()) << c.name;
    }
    release();
    const GtaSnapshot s = attempt();
    EXPECT_EQ(s.status, kGtaDone) << c.name << ": " << Utf8FromWide(s.message);
    EXPECT_EQ(server.Requests().size(), requests + c.downloads) << c.name;
    EXPECT_TRUE(probe.IsInstalled()) << c.name;
  }
}

// The key files arrive before a later entry turns out broken: the archive goes, and what
// was unpacked must not pass for an installation (the window would never retry, and the
// game would start on it).
TEST_F(GtaInstallerTest, UnpackingThatFailsAfterTheKeyFilesLeavesNoInstallation) {
  std::vector<std::string> bodies = {Archive("late-corrupt.rar"), Archive("good.rar")};
  HttpTestServer server([&](const TestRequest& request) {
    TestResponse r;
    r.body = bodies[request.target == "/late.rar" ? 0 : 1];
    return r;
  });
  DeleteRegistryValue(kCommonRegistryKey, kGtaFolderValue);
  GtaInstaller first(dir.Path(), server.Url("/late.rar"));
  first.Start(false);
  first.Join();
  EXPECT_EQ(first.GetSnapshot().message, L"İndirilen arşiv bozuk; bir sonraki denemede yeniden indirilecek");
  ASSERT_TRUE(IsValidGameFolder(dir.Join(L"GTA-SA")));
  EXPECT_FALSE(FileExists(first.ArchivePath()));
  EXPECT_FALSE(first.IsInstalled());
  EXPECT_EQ(ReadRegistryString(kCommonRegistryKey, kGtaFolderValue), L"");

  GtaInstaller retry(dir.Path(), server.Url("/good.rar"));
  retry.Start(false);
  retry.Join();
  EXPECT_EQ(retry.GetSnapshot().status, kGtaDone) << Utf8FromWide(retry.GetSnapshot().message);
  EXPECT_EQ(ReadBytes(dir.Join(L"GTA-SA\\data\\maps\\city.ipl")).size(), 20000u);
  EXPECT_TRUE(retry.IsInstalled());
}

TEST_F(GtaInstallerTest, MissingKeyFileKeepsTheArchiveOnceNotTwice) {
  const GtaSnapshot s = RunWithArchive("missing-keyfile.rar", false);
  EXPECT_EQ(s.status, kGtaFailed);
  EXPECT_EQ(s.message, L"Arşivden çıkan dosyalar eksik");
  EXPECT_TRUE(FileExists(probe.ArchivePath()));
  EXPECT_FALSE(probe.IsInstalled());
  EXPECT_EQ(RunOffline().message, L"Arşivden çıkan dosyalar eksik");
  EXPECT_FALSE(FileExists(probe.ArchivePath()));
  EXPECT_FALSE(FileExists(probe.FailureRecordPath()));
}

// The archive holds the key files and the library wrote them, but an antivirus took one at
// once, before or after the flush: the archive is not to blame, however often that repeats.
TEST_F(GtaInstallerTest, KeyFileTakenAfterUnpackingNeverCostsTheArchive) {
  const std::wstring exe = dir.Join(L"GTA-SA\\gta_sa.exe");
  const auto take = [&](const std::wstring& path) {
    if (path == exe) {
      EXPECT_TRUE(DeleteFileW(path.c_str()));
    }
  };
  ASSERT_TRUE(CreateDirectoryTree(probe.WorkFolder()));
  ASSERT_TRUE(WriteBytes(probe.ArchivePath(), Archive("good.rar")));
  for (const bool flushed : {false, true}) {
    const GtaSnapshot s = RunOffline(false, [&](GtaInstaller& installer) {
      flushed ? installer.SetFlushedFileHook(take) : installer.SetUnpackedFileHook(take);
    });
    EXPECT_EQ(s.message, L"Bir dosya antivirüs tarafından silinmiş olabilir: " + exe) << flushed;
    EXPECT_TRUE(FileExists(probe.ArchivePath())) << flushed;
    EXPECT_FALSE(FileExists(probe.FailureRecordPath())) << flushed;
    EXPECT_FALSE(probe.IsInstalled()) << flushed;
  }
  const GtaSnapshot s = RunOffline();
  EXPECT_EQ(s.status, kGtaDone) << Utf8FromWide(s.message);
  EXPECT_TRUE(probe.IsInstalled());
}

// Whether the archive is broken or lacks a key file, the player gets the previous copy back.
TEST_F(GtaInstallerTest, FailedReinstallPutsThePreviousCopyBack) {
  const std::wstring game = dir.Join(L"GTA-SA");
  for (const char* archive : {"corrupt.rar", "missing-keyfile.rar"}) {
    ASSERT_TRUE(CreateDirectoryTree(JoinPath(game, L"models")));
    ASSERT_TRUE(WriteBytes(JoinPath(game, L"gta_sa.exe"), "old exe"));
    ASSERT_TRUE(WriteBytes(JoinPath(game, L"models\\gta3.img"), "old img"));
    ASSERT_TRUE(WriteBytes(JoinPath(game, L"my-settings.ini"), "keep me"));
    EXPECT_EQ(RunWithArchive(archive, true).status, kGtaFailed) << archive;
    EXPECT_EQ(ReadBytes(JoinPath(game, L"my-settings.ini")), "keep me") << archive;
    EXPECT_EQ(ReadBytes(JoinPath(game, L"gta_sa.exe")), "old exe") << archive;
    EXPECT_EQ(ReadBytes(JoinPath(game, L"models\\gta3.img")), "old img") << archive;
    EXPECT_FALSE(DirectoryExists(probe.OldCopyPath())) << archive;
  }
}

TEST_F(GtaInstallerTest, ReinstallKilledHalfWayIsCompletedByTheNextStart) {
  // What a kill during a reinstall's unpacking leaves: the old copy aside, a partial new one.
  ASSERT_TRUE(CreateDirectoryTree(probe.WorkFolder()));
  ASSERT_TRUE(WriteBytes(probe.UnfinishedMarkerPath(), kMarkerUnpacking));
  const std::wstring old = probe.OldCopyPath();
  ASSERT_TRUE(CreateDirectoryTree(JoinPath(old, L"models")));
  ASSERT_TRUE(WriteBytes(JoinPath(old, L"gta_sa.exe"), "old exe"));
  ASSERT_TRUE(WriteBytes(JoinPath(old, L"models\\gta3.img"), "old img"));
  ASSERT_TRUE(CreateDirectoryTree(dir.Join(L"GTA-SA\\models")));
  ASSERT_TRUE(WriteBytes(dir.Join(L"GTA-SA\\gta_sa.exe"), "new exe"));
  ASSERT_TRUE(WriteBytes(dir.Join(L"GTA-SA\\models\\gta3.img"), "new img, half"));
  ASSERT_TRUE(WriteBytes(probe.ArchivePath(), Archive("good.rar")));
  EXPECT_FALSE(probe.IsInstalled());
  GtaSnapshot s = RunOffline();
  ASSERT_EQ(s.status, kGtaDone) << Utf8FromWide(s.message);
  EXPECT_EQ(ReadBytes(dir.Join(L"GTA-SA\\models\\gta3.img")).size(), 300000u);
  EXPECT_FALSE(DirectoryExists(old));
  EXPECT_TRUE(probe.IsInstalled());

  // Killed after the new copy was complete, before the old one was deleted. An old copy that
  // cannot go yet keeps the marker, so that the next start retries only this completion.
  ASSERT_TRUE(CreateDirectoryTree(old));
  ASSERT_TRUE(WriteBytes(JoinPath(old, L"held.txt"), "held"));
  ASSERT_TRUE(WriteBytes(probe.UnfinishedMarkerPath(), kMarkerUnpackedWhole));
  EXPECT_FALSE(probe.IsInstalled());
  {
    const UniqueHandle held = HoldFile(JoinPath(old, L"held.txt"));
    ASSERT_TRUE(held.Valid());
    EXPECT_EQ(RunOffline().message, L"Kurulum tamamlanamadı (" + old + L")");
    EXPECT_EQ(ReadBytes(probe.UnfinishedMarkerPath()), kMarkerUnpackedWhole);
  }
  // A reinstall whose unpacking fails never puts that leftover back over the copy called whole.
  ASSERT_TRUE(CreateDirectoryTree(JoinPath(old, L"models")));
  ASSERT_TRUE(WriteBytes(JoinPath(old, L"gta_sa.exe"), "leftover exe"));
  ASSERT_TRUE(WriteBytes(JoinPath(old, L"models\\gta3.img"), "leftover img"));
  ASSERT_TRUE(WriteBytes(probe.ArchivePath(), Archive("late-corrupt.rar")));
  EXPECT_EQ(RunOffline(true).status, kGtaFailed);
  EXPECT_EQ(ReadBytes(dir.Join(L"GTA-SA\\models\\gta3.img")).size(), 300000u);
  EXPECT_EQ(ReadBytes(dir.Join(L"GTA-SA\\data\\maps\\city.ipl")).size(), 20000u);
  DeleteFileW(probe.ArchivePath().c_str());
  ASSERT_TRUE(WriteBytes(probe.UnfinishedMarkerPath(), kMarkerUnpackedWhole));

  // An archive that cannot go yet keeps the marker too: beside a copy without one it would
  // read as an unfinished installation and be unpacked again.
  ASSERT_TRUE(WriteBytes(probe.ArchivePath(), "complete archive"));
  {
    const UniqueHandle held = HoldFile(probe.ArchivePath());
    ASSERT_TRUE(held.Valid());
    s = RunOffline();
    EXPECT_EQ(s.message.rfind(L"Kurulum tamamlanamadı (" + probe.ArchivePath() + L"): ", 0), 0u)
        << Utf8FromWide(s.message);
    EXPECT_EQ(ReadBytes(probe.UnfinishedMarkerPath()), kMarkerUnpackedWhole);
  }
  s = RunOffline();
  EXPECT_EQ(s.status, kGtaDone) << Utf8FromWide(s.message);
  EXPECT_FALSE(DirectoryExists(old));
  EXPECT_FALSE(FileExists(probe.ArchivePath()));
  EXPECT_FALSE(FileExists(probe.UnfinishedMarkerPath()));
  EXPECT_TRUE(probe.IsInstalled());
}

// Earlier builds could finish an installation and fail to delete the old copy, leaving neither
// the archive nor a marker. That copy is a leftover: it goes, and the game folder, which holds
// the player's own additions by now, is neither unpacked over nor given up for it.
TEST_F(GtaInstallerTest, OldCopyLeftBesideACompleteOneIsDeletedWithoutDownloading) {
  const std::string archive = Archive("late-corrupt.rar");
  HttpTestServer server([&](const TestRequest&) {
    TestResponse r;
    r.body = archive;
    return r;
  });
  ASSERT_EQ(RunWithArchive("good.rar", false).status, kGtaDone);
  const std::wstring mod = dir.Join(L"GTA-SA\\cleo\\mod.cs");
  ASSERT_TRUE(CreateDirectoryTree(ParentPath(mod)));
  ASSERT_TRUE(WriteBytes(mod, "a player's mod"));
  const std::wstring old = probe.OldCopyPath();
  ASSERT_TRUE(CreateDirectoryTree(JoinPath(old, L"models")));
  ASSERT_TRUE(WriteBytes(JoinPath(old, L"gta_sa.exe"), "leftover exe"));
  ASSERT_TRUE(WriteBytes(JoinPath(old, L"models\\gta3.img"), "leftover img"));
  EXPECT_TRUE(probe.IsInstalled());  // playable while the leftover waits to go
  for (const bool held : {true, false}) {
    const UniqueHandle hold = held ? HoldFile(JoinPath(old, L"gta_sa.exe")) : UniqueHandle();
    GtaInstaller installer(dir.Path(), server.Url("/gta.rar"));
    installer.Start(false);
    installer.Join();
    const GtaSnapshot s = installer.GetSnapshot();
    EXPECT_EQ(s.status, kGtaDone) << Utf8FromWide(s.message);
    EXPECT_EQ(DirectoryExists(old), held);
    EXPECT_EQ(ReadBytes(mod), "a player's mod");
    EXPECT_EQ(ReadBytes(dir.Join(L"GTA-SA\\models\\gta3.img")).size(), 300000u);
    EXPECT_FALSE(FileExists(probe.UnfinishedMarkerPath()));
  }
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_TRUE(probe.IsInstalled());
  EXPECT_NE(Log().find("[gta] deleting the previous copy an earlier installation left: " + Utf8FromWide(old)),
            std::string::npos);
}

// A reinstall whose old copy could not come back (it was not valid) leaves a partial new copy
// with the key files beside the old one: the next start must neither complete the partial
// copy nor give up the old one before a new copy is whole.
TEST_F(GtaInstallerTest, PartialCopyBesideAnOldOneIsNeverCompletedAsItIs) {
  DeleteRegistryValue(kCommonRegistryKey, kGtaFolderValue);
  const std::wstring game = dir.Join(L"GTA-SA");
  ASSERT_TRUE(CreateDirectoryTree(game));
  ASSERT_TRUE(WriteBytes(JoinPath(game, L"gta_sa.exe"), "old exe without its models"));
  ASSERT_TRUE(WriteBytes(JoinPath(game, L"my-settings.ini"), "keep me"));
  const GtaSnapshot failed = RunWithArchive("late-corrupt.rar", true);
  EXPECT_EQ(failed.status, kGtaFailed);
  const std::wstring oldSettings = JoinPath(probe.OldCopyPath(), L"my-settings.ini");
  ASSERT_EQ(ReadBytes(oldSettings), "keep me");
  ASSERT_TRUE(IsValidGameFolder(game));
  EXPECT_FALSE(probe.IsInstalled());

  HttpTestServer missing([](const TestRequest&) {
    TestResponse r;
    r.status = 404;
    return r;
  });
  GtaInstaller next(dir.Path(), missing.Url("/gta.rar"));
  next.Start(false);
  next.Join();
  EXPECT_EQ(next.GetSnapshot().status, kGtaFailed);
  EXPECT_EQ(ReadBytes(oldSettings), "keep me");
  EXPECT_FALSE(next.IsInstalled());
  EXPECT_EQ(ReadRegistryString(kCommonRegistryKey, kGtaFolderValue), L"");

  const std::string archive = Archive("good.rar");
  HttpTestServer server([&](const TestRequest&) {
    TestResponse r;
    r.body = archive;
    return r;
  });
  GtaInstaller last(dir.Path(), server.Url("/gta.rar"));
  last.Start(false);
  last.Join();
  EXPECT_EQ(last.GetSnapshot().status, kGtaDone) << Utf8FromWide(last.GetSnapshot().message);
  EXPECT_EQ(ReadBytes(JoinPath(game, L"data\\maps\\city.ipl")).size(), 20000u);
  EXPECT_FALSE(DirectoryExists(probe.OldCopyPath()));
  EXPECT_TRUE(last.IsInstalled());
}

// Earlier builds marked an unfinished installation by the archive or the old copy alone.
TEST_F(GtaInstallerTest, UnfinishedInstallationOfAnEarlierBuildWithoutTheMarker) {
  const std::wstring game = dir.Join(L"GTA-SA");
  auto putCopy = [](const std::wstring& folder, const std::string& exe) {
    ASSERT_TRUE(CreateDirectoryTree(JoinPath(folder, L"models")));
    ASSERT_TRUE(WriteBytes(JoinPath(folder, L"gta_sa.exe"), exe));
    ASSERT_TRUE(WriteBytes(JoinPath(folder, L"models\\gta3.img"), exe + " img"));
  };
  ASSERT_TRUE(CreateDirectoryTree(probe.WorkFolder()));

  // Stopped mid-unpack: the archive and the key files, no marker. Not installed; unpacked again.
  putCopy(game, "partial");
  ASSERT_TRUE(WriteBytes(probe.ArchivePath(), Archive("good.rar")));
  EXPECT_FALSE(probe.IsInstalled());
  GtaSnapshot s = RunWithArchive("good.rar", false);
  ASSERT_EQ(s.status, kGtaDone) << Utf8FromWide(s.message);
  EXPECT_EQ(ReadBytes(JoinPath(game, L"data\\maps\\city.ipl")).size(), 20000u);
  EXPECT_EQ(ReadBytes(JoinPath(game, L"models\\gta3.img")).size(), 300000u);
  EXPECT_TRUE(probe.IsInstalled());

  // Stopped mid-reinstall: the archive, and the old copy aside is the only complete one; a
  // later reinstall whose unpacking fails gives it back instead of the partial copy.
  putCopy(probe.OldCopyPath(), "old");
  putCopy(game, "partial");
  ASSERT_TRUE(WriteBytes(probe.ArchivePath(), Archive("corrupt.rar")));
  EXPECT_FALSE(probe.IsInstalled());
  s = RunWithArchive("corrupt.rar", true);
  EXPECT_EQ(s.status, kGtaFailed);
  EXPECT_EQ(ReadBytes(JoinPath(game, L"gta_sa.exe")), "old");
  EXPECT_FALSE(DirectoryExists(probe.OldCopyPath()));
  EXPECT_FALSE(probe.IsInstalled());
}

TEST_F(GtaInstallerTest, SuccessfulReinstallReplacesTheOldCopy) {
  const std::wstring game = dir.Join(L"GTA-SA");
  ASSERT_TRUE(CreateDirectoryTree(game));
  ASSERT_TRUE(WriteBytes(JoinPath(game, L"my-settings.ini"), "old"));
  const GtaSnapshot s = RunWithArchive("good.rar", true);
  ASSERT_EQ(s.status, kGtaDone) << Utf8FromWide(s.message);
  EXPECT_FALSE(FileExists(JoinPath(game, L"my-settings.ini")));
  EXPECT_TRUE(IsValidGameFolder(game));
  EXPECT_FALSE(DirectoryExists(dir.Join(L".talvoreen\\gta\\GTA-SA.old")));
}

TEST_F(GtaInstallerTest, RegistryValueNamingTheSameFolderIsLeftAlone) {
  const std::wstring game = dir.Join(L"GTA-SA");
  std::wstring spelled = game;
  for (wchar_t& c : spelled) c = static_cast<wchar_t>(towupper(c));
  spelled += L"\\";
  WriteRegistryString(kCommonRegistryKey, kGtaFolderValue, spelled);
  const GtaSnapshot s = RunWithArchive("good.rar", false);
  ASSERT_EQ(s.status, kGtaDone) << Utf8FromWide(s.message);
  EXPECT_EQ(ReadRegistryString(kCommonRegistryKey, kGtaFolderValue), spelled);
  EXPECT_EQ(Log().find("[gta] GTA folder"), std::string::npos);
}

TEST_F(GtaInstallerTest, IsInstalledFollowsTheMarkerAndWhatEarlierBuildsLeft) {
  const GtaSnapshot s = RunWithArchive("good.rar", false);
  ASSERT_EQ(s.status, kGtaDone);
  EXPECT_TRUE(probe.IsInstalled());
  ASSERT_TRUE(WriteBytes(probe.ArchivePath(), "left over"));
  EXPECT_FALSE(probe.IsInstalled());
  ASSERT_TRUE(DeleteFileW(probe.ArchivePath().c_str()));
  // An old copy without the archive and the marker is a leftover beside a whole copy.
  ASSERT_TRUE(CreateDirectoryTree(probe.OldCopyPath()));
  EXPECT_TRUE(probe.IsInstalled());
  ASSERT_TRUE(RemoveDirectoryW(probe.OldCopyPath().c_str()));
  for (const char* marker : {kMarkerUnpacking, kMarkerUnpackedWhole, ""}) {
    ASSERT_TRUE(WriteBytes(probe.UnfinishedMarkerPath(), marker));
    EXPECT_FALSE(probe.IsInstalled()) << marker;
  }
}

TEST_F(GtaInstallerTest, ShutdownDuringTheTransferPausesAndTheNextStartResumes) {
  const std::string archive = Archive("good.rar");
  GtaInstaller* current = nullptr;
  HttpTestServer server([&](const TestRequest& request) {
    TestResponse r;
    r.headers = {{"ETag", "\"gta-1\""}};
    unsigned long long from = 0;
    if (std::sscanf(request.Header("Range").c_str(), "bytes=%llu-", &from) == 1 && request.Header("If-Range") == "\"gta-1\"") {
      r.status = 206;
      r.body = archive.substr(from);
      r.headers.emplace_back("Content-Range", "bytes " + std::to_string(from) + "-" + std::to_string(archive.size() - 1) +
                                                  "/" + std::to_string(archive.size()));
    } else {
      r.body = archive;
      // The launcher closes while the first 280 KiB are on their way.
      r.pieces = {280 * 1024};
      r.afterPiece = [&](size_t) {
        if (current) current->RequestStop();
      };
    }
    return r;
  });
  {
    GtaInstaller installer(dir.Path(), server.Url("/gta.rar"));
    current = &installer;
    installer.Start(false);
    installer.Join();
    const GtaSnapshot s = installer.GetSnapshot();
    EXPECT_EQ(s.status, kGtaPaused);
    EXPECT_EQ(s.message, L"");
    EXPECT_TRUE(FileExists(installer.ArchivePath() + L".part"));
    EXPECT_TRUE(FileExists(installer.ArchivePath() + L".part.validator"));
    EXPECT_EQ(Log().find("[gta] failed"), std::string::npos);
    current = nullptr;
  }
  GtaInstaller installer(dir.Path(), server.Url("/gta.rar"));
  // How much arrived before the stop was seen depends on the platform's reads; whatever
  // is on disk is continued, not fetched again.
  const uint64_t partSize = ReadBytes(installer.ArchivePath() + L".part").size();
  installer.Start(false);
  installer.Join();
  EXPECT_EQ(installer.GetSnapshot().status, kGtaDone) << Utf8FromWide(installer.GetSnapshot().message);
  EXPECT_EQ(server.Requests().back().Header("Range"), partSize > 0 ? "bytes=" + std::to_string(partSize) + "-" : "");
}

TEST_F(GtaInstallerTest, NotEnoughSpaceToUnpack) {
  GtaInstaller installer(dir.Path(), L"");
  ASSERT_TRUE(CreateDirectoryTree(installer.WorkFolder()));
  ASSERT_TRUE(WriteBytes(installer.ArchivePath(), Archive("good.rar")));
  EXECUTION_STATE runState = 0;
  installer.SetFreeSpaceProbe([&](const std::wstring&, uint64_t& available) {
    runState = SetThreadExecutionState(0);  // without ES_CONTINUOUS this only reads the state
    available = 1000;
    return true;
  });
  installer.Start(false);
  installer.Join();
  // The run thread keeps the PC from sleeping, and its request ends with the run (Windows
  // keeps the request per thread; Wine keeps one for the process, where this checks that the
  // run gave it back).
  EXPECT_EQ(runState & (ES_CONTINUOUS | ES_SYSTEM_REQUIRED), DWORD(ES_CONTINUOUS | ES_SYSTEM_REQUIRED));
  EXPECT_FALSE(SetThreadExecutionState(0) & ES_SYSTEM_REQUIRED);
  const GtaSnapshot s = installer.GetSnapshot();
  EXPECT_EQ(s.status, kGtaFailed);
  EXPECT_EQ(s.message, L"Diskte yeterli yer yok: 313 KB gerekli, 1000 B boş");
  EXPECT_TRUE(FileExists(installer.ArchivePath()));  // kept for the next try
}

TEST_F(GtaInstallerTest, HeadlessJobsReportProgressAndResult) {
  const std::string archive = Archive("good.rar");
  HttpTestServer server([&](const TestRequest&) {
    TestResponse r;
    r.body = archive;
    return r;
  });
  const std::wstring install = dir.Join(L"install");
  auto run = [&](const wchar_t* job) {
    return testing_support::RunProcess(testing_support::LauncherExePath(),
                                       {L"--headless", job, L"--dir", install, L"--gta-url", server.Url("/gta.rar")});
  };
  auto gta = run(L"gta");
  EXPECT_EQ(gta.exitCode, 0u) << gta.output;
  EXPECT_EQ(gta.output.rfind("connecting download 0/0 extract 0/0 files 0/0\n", 0), 0u) << gta.output;
  const std::string result = "result done " + Utf8FromWide(JoinPath(install, L"GTA-SA")) + "\n";
  ASSERT_GE(gta.output.size(), result.size());
  EXPECT_EQ(gta.output.substr(gta.output.size() - result.size()), result);
  EXPECT_NE(gta.output.find("files 4/5\n"), std::string::npos) << gta.output;

  ASSERT_TRUE(WriteBytes(JoinPath(install, L"GTA-SA\\stray.txt"), "x"));
  auto repair = run(L"gta-repair");
  EXPECT_EQ(repair.exitCode, 0u) << repair.output;
  EXPECT_FALSE(FileExists(JoinPath(install, L"GTA-SA\\stray.txt")));
  EXPECT_EQ(server.Requests().size(), 2u);

  HttpTestServer missing([](const TestRequest&) {
    TestResponse r;
    r.status = 404;
    return r;
  });
  auto failed = testing_support::RunProcess(
      testing_support::LauncherExePath(),
      {L"--headless", L"gta", L"--dir", dir.Join(L"other"), L"--gta-url", missing.Url("/none.rar")});
  EXPECT_EQ(failed.exitCode, 1u);
  EXPECT_NE(failed.output.find("result failed  error: Sunucu hata d\xC3\xB6nd\xC3\xBCrd\xC3\xBC (HTTP 404)\n"),
            std::string::npos)
      << failed.output;
}

}  // namespace
