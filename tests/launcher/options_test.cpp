#include <gtest/gtest.h>

#include "base/config.h"
#include "base/paths.h"
#include "launcher/options.h"

namespace {

std::wstring FakeNormalize(const std::wstring& path) { return L"N(" + path + L")"; }

CommandLine Parse(std::vector<std::wstring> args) { return ParseLaunchArguments(args, &FakeNormalize); }

TEST(CommandLine, DefaultsWithoutArguments) {
  CommandLine cl = Parse({});
  EXPECT_EQ(cl.options.contentBaseUrl, TALVOREEN_DEFAULT_CONTENT_BASE_URL);
  EXPECT_EQ(cl.options.gtaArchiveUrl, TALVOREEN_DEFAULT_GTA_ARCHIVE_URL);
  EXPECT_TRUE(cl.options.contentBaseUrl.rfind(L"https://", 0) == 0);
  EXPECT_TRUE(cl.options.installDir.empty());
  EXPECT_FALSE(cl.options.link.has_value());
  EXPECT_FALSE(cl.options.devServer);
  EXPECT_FALSE(cl.uninstall);
  EXPECT_EQ(cl.afterUpdateProcessId, 0);
  EXPECT_TRUE(cl.headlessJob.empty());
}

TEST(CommandLine, LinkOnlyAsFirstArgumentAndOnlyWithExactlyOneValue) {
  CommandLine one = Parse({L"--link", L"talvoreen://corvel"});
  ASSERT_TRUE(one.options.link.has_value());
  EXPECT_EQ(*one.options.link, L"talvoreen://corvel");

  CommandLine none = Parse({L"--link"});
  ASSERT_TRUE(none.options.link.has_value());
  EXPECT_TRUE(none.options.link->empty());

  CommandLine two = Parse({L"--link", L"talvoreen://corvel", L"--headless"});
  ASSERT_TRUE(two.options.link.has_value());
  EXPECT_TRUE(two.options.link->empty());

  // Nothing after --link is read, not even options.
  CommandLine rest = Parse({L"--link", L"--dir", L"X"});
  EXPECT_TRUE(rest.options.installDir.empty());
  EXPECT_TRUE(rest.options.link->empty());

  CommandLine late = Parse({L"--dev-server", L"--link", L"talvoreen://corvel"});
  EXPECT_FALSE(late.options.link.has_value());
  EXPECT_TRUE(late.options.devServer);
}

TEST(CommandLine, ValueOptionsTakeTheNextArgumentWhateverItIs) {
  CommandLine cl = Parse({L"--dir", L"--headless", L"--connect", L"1.2.3.4:22003"});
  EXPECT_EQ(cl.options.installDir, L"--headless");
  EXPECT_TRUE(cl.headlessJob.empty());
  EXPECT_EQ(cl.options.connectAddress, L"1.2.3.4:22003");
}

TEST(CommandLine, ValueOptionAtTheEndHasNoEffect) {
  CommandLine cl = Parse({L"--headless", L"where", L"--dir"});
  EXPECT_EQ(cl.headlessJob, L"where");
  EXPECT_TRUE(cl.options.installDir.empty());
}

TEST(CommandLine, UnknownWordsDoNotSwallowTheNextWord) {
  CommandLine cl = Parse({L"bogus", L"--dev-server", L"--DIR", L"x", L"--dir", L"D"});
  EXPECT_TRUE(cl.options.devServer);
  EXPECT_EQ(cl.options.installDir, L"D");
}

TEST(CommandLine, FlagsAreReadEvenAsLastArgument) {
  CommandLine cl = Parse({L"--dir", L"D", L"--test-old-version"});
  EXPECT_TRUE(cl.options.testOldVersion);
  CommandLine un = Parse({L"--uninstall"});
  EXPECT_TRUE(un.uninstall);
}

TEST(CommandLine, LaterOccurrenceWins) {
  CommandLine cl = Parse({L"--dir", L"A", L"--dir", L"B", L"--headless", L"sync", L"--headless", L"check"});
  EXPECT_EQ(cl.options.installDir, L"B");
  EXPECT_EQ(cl.headlessJob, L"check");
}

TEST(CommandLine, EveryValueOptionReachesItsField) {
  CommandLine cl = Parse({L"--cdn", L"http://127.0.0.1:8080/base", L"--server-list", L"http://l/list.json",
                          L"--cache", L"C:/cache/", L"--gta-url", L"http://g/gta.rar", L"--shots", L"S",
                          L"--uninstall-run", L"U", L"--wait", L"42", L"--after-update", L"77"});
  EXPECT_EQ(cl.options.contentBaseUrl, L"http://127.0.0.1:8080/base");
  EXPECT_EQ(cl.options.serverListUrl, L"http://l/list.json");
  EXPECT_EQ(cl.options.cacheDir, L"N(C:/cache/)");  // --cache goes through NormalizePath
  EXPECT_EQ(cl.options.gtaArchiveUrl, L"http://g/gta.rar");
  EXPECT_EQ(cl.options.shotsDir, L"S");
  EXPECT_EQ(cl.uninstallRunDir, L"U");
  EXPECT_EQ(cl.waitProcessId, 42);
  EXPECT_EQ(cl.afterUpdateProcessId, 77);
}

TEST(CommandLine, DirIsStoredUnchanged) {
  CommandLine cl = Parse({L"--dir", L"C:/Games//Talvoreen/"});
  EXPECT_EQ(cl.options.installDir, L"C:/Games//Talvoreen/");
}

TEST(CommandLine, TrailingSlashesOfTheContentBaseAreRemoved) {
  EXPECT_EQ(Parse({L"--cdn", L"http://h/base///"}).options.contentBaseUrl, L"http://h/base");
  EXPECT_EQ(Parse({L"--cdn", L"///"}).options.contentBaseUrl, L"");
}

TEST(CommandLine, JoinBuildsALink) {
  CommandLine cl = Parse({L"--join", L"meridian"});
  ASSERT_TRUE(cl.options.link.has_value());
  EXPECT_EQ(*cl.options.link, L"talvoreen://meridian");
}

TEST(CommandLine, ProcessIdsAreReadLikeWtoi) {
  EXPECT_EQ(Parse({L"--wait", L"123abc"}).waitProcessId, 123);
  EXPECT_EQ(Parse({L"--wait", L"abc"}).waitProcessId, 0);
  EXPECT_EQ(Parse({L"--wait", L"  -15"}).waitProcessId, -15);
  EXPECT_EQ(Parse({L"--after-update", L"+8"}).afterUpdateProcessId, 8);
  EXPECT_EQ(Parse({L"--after-update", L"99999999999999"}).afterUpdateProcessId, 2147483647);
}

TEST(CommandLine, UninstallRunAndHeadlessCanBothBeSet) {
  CommandLine cl = Parse({L"--uninstall", L"--uninstall-run", L"D", L"--headless", L"sync", L"--shots", L"S"});
  EXPECT_TRUE(cl.uninstall);
  EXPECT_EQ(cl.uninstallRunDir, L"D");
  EXPECT_EQ(cl.headlessJob, L"sync");
  EXPECT_EQ(cl.options.shotsDir, L"S");
}

TEST(DevelopmentTree, RecognisesBinLauncherUnderATreeWithPremake) {
  static std::wstring existing;
  auto exists = [](const std::wstring& p) { return p == existing; };
  existing = L"C:\\src\\talvoreen\\premake5.lua";
  EXPECT_TRUE(IsDevelopmentTree(L"C:\\src\\talvoreen\\Bin\\launcher\\Talvoreen Launcher.exe", exists));
  EXPECT_TRUE(IsDevelopmentTree(L"C:\\src\\talvoreen\\bin\\LAUNCHER\\x.exe", exists));
  EXPECT_FALSE(IsDevelopmentTree(L"C:\\src\\talvoreen\\Bin\\other\\x.exe", exists));
  EXPECT_FALSE(IsDevelopmentTree(L"C:\\src\\Bin\\launcher\\x.exe", exists));  // no premake5.lua there
  existing.clear();
  EXPECT_FALSE(IsDevelopmentTree(L"C:\\src\\talvoreen\\Bin\\launcher\\x.exe", exists));
  EXPECT_FALSE(IsDevelopmentTree(L"Bin\\launcher\\x.exe", exists));  // no grandparent folder
}

}  // namespace
