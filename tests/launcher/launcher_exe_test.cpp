// The built launcher started as a real child process.
#include <gtest/gtest.h>

#include "base/files.h"
#include "base/registry.h"
#include "base/text.h"
#include "launcher/single_instance.h"
#include "tests/support/signing.h"
#include "tests/support/test_support.h"

using testing_support::LauncherExePath;
using testing_support::ProcessResult;
using testing_support::ReadBytes;
using testing_support::RegistryValueGuard;
using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

ProcessResult RunLauncher(const std::vector<std::wstring>& args) {
  ProcessResult result = RunProcess(LauncherExePath(), args);
  EXPECT_TRUE(result.started) << "cannot start the launcher";
  return result;
}

TEST(HeadlessExe, WhereFindsNothingOnAnEmptyMachine) {
  RegistryValueGuard guard(kLauncherRegistryKey, kInstallDirValue);
  DeleteRegistryValue(kLauncherRegistryKey, kInstallDirValue);
  ASSERT_FALSE(DirectoryExists(L"C:\\Talvoreen"));
  ProcessResult r = RunLauncher({L"--headless", L"where"});
  EXPECT_EQ(r.output, "none\n");
  EXPECT_EQ(r.exitCode, 1u);
}

TEST(HeadlessExe, WherePrintsTheRegisteredInstallation) {
  RegistryValueGuard guard(kLauncherRegistryKey, kInstallDirValue);
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.Join(L"Talvoreen.exe"), "MZ"));
  WriteRegistryString(kLauncherRegistryKey, kInstallDirValue, dir.Path() + L"\\");
  ProcessResult r = RunLauncher({L"--headless", L"where"});
  EXPECT_EQ(r.output, Utf8FromWide(dir.Path()) + "\n");
  EXPECT_EQ(r.exitCode, 0u);
}

TEST(HeadlessExe, JobsOtherThanWhereNeedAnInstallFolder) {
  ProcessResult r = RunLauncher({L"--headless", L"sync"});
  EXPECT_EQ(r.output, "--headless needs --dir <install folder>\n");
  EXPECT_EQ(r.exitCode, 2u);
  // A --dir without a value is no --dir.
  ProcessResult r2 = RunLauncher({L"--headless", L"check", L"--dir"});
  EXPECT_EQ(r2.output, "--headless needs --dir <install folder>\n");
  EXPECT_EQ(r2.exitCode, 2u);
}

TEST(HeadlessExe, UnknownJobLeavesTheHeaderInTheLog) {
  TempDir dir;
  const std::wstring install = dir.Join(L"Kurulum Ğ");
  ProcessResult r = RunLauncher({L"--headless", L"Sync", L"--dir", install + L"/"});
  EXPECT_EQ(r.output, "unknown --headless job: Sync\n");
  EXPECT_EQ(r.exitCode, 2u);
  const std::string log = ReadBytes(JoinPath(install, L"TALVOREEN\\logs\\launcher.log"));
  // A build that trusts the development key says so at the end of the header.
  const std::string header = "Talvoreen Launcher 0.4.21 | headless Sync | install " + Utf8FromWide(install) +
                             (testing_support::BuiltWithDevelopmentKey() ? " | DEVELOPMENT SIGNING KEY, NOT A RELEASE" : "") +
                             "\r\n";
  ASSERT_GE(log.size(), header.size());
  EXPECT_EQ(log.substr(log.size() - header.size()), header);
}

TEST(HeadlessExe, OutputIsUtf8WithLineFeeds) {
  TempDir dir;
  ProcessResult r = RunLauncher({L"--headless", L"Şenlik", L"--dir", dir.Path()});
  EXPECT_EQ(r.output, "unknown --headless job: \xC5\x9E" "enlik\n");
}

TEST(HeadlessExe, HeadlessWinsOverScreenshotsAndRunsBesideAWindow) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
  ASSERT_NE(mutex, nullptr);
  TempDir dir;
  ProcessResult r = RunLauncher({L"--headless", L"nojob", L"--shots", dir.Join(L"shots"), L"--dir", dir.Path()});
  CloseHandle(mutex);
  EXPECT_EQ(r.output, "unknown --headless job: nojob\n");
  EXPECT_EQ(r.exitCode, 2u);
  EXPECT_FALSE(DirectoryExists(dir.Join(L"shots")));
}

// A stand-in for the running launcher window: the real class name, recording what arrives.
struct FakeLauncherWindow {
  HWND hwnd = nullptr;
  std::vector<std::wstring> links;
  std::vector<DWORD> sizes;

  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
      auto* self = reinterpret_cast<FakeLauncherWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      std::wstring link;
      if (self && ReadForwardedLink(data, link)) {
        self->links.push_back(link);
        self->sizes.push_back(data->cbData);
        return TRUE;
      }
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

  FakeLauncherWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClassName;
    RegisterClassW(&wc);
    hwnd = CreateWindowExW(0, kWindowClassName, L"test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~FakeLauncherWindow() {
    DestroyWindow(hwnd);
    UnregisterClassW(kWindowClassName, GetModuleHandleW(nullptr));
  }
};

// Starts a second launcher and serves this thread's messages until it ends.
DWORD RunSecondLauncher(const std::vector<std::wstring>& args) {
  HANDLE process = testing_support::StartProcess(LauncherExePath(), args);
  EXPECT_NE(process, nullptr);
  if (!process) return 999;
  for (;;) {
    DWORD wait = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  DWORD code = 999;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

class SecondStart : public ::testing::Test {
 protected:
  void SetUp() override {
    mutex_ = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
    ASSERT_NE(mutex_, nullptr);
  }
  void TearDown() override { CloseHandle(mutex_); }
  HANDLE mutex_ = nullptr;
};

TEST_F(SecondStart, ForwardsTheLinkAndShowsTheWindow) {
  FakeLauncherWindow window;
  ASSERT_NE(window.hwnd, nullptr);
  EXPECT_FALSE(IsWindowVisible(window.hwnd));
  EXPECT_EQ(RunSecondLauncher({L"--link", L"talvoreen://corvel"}), 0u);
  ASSERT_EQ(window.links.size(), 1u);
  EXPECT_EQ(window.links[0], L"talvoreen://corvel");
  EXPECT_EQ(window.sizes[0], (18u + 1) * 2);
  EXPECT_TRUE(IsWindowVisible(window.hwnd));
}

TEST_F(SecondStart, ForwardsAnEmptyLinkAsTwoBytes) {
  FakeLauncherWindow window;
  EXPECT_EQ(RunSecondLauncher({L"--link", L"a", L"b"}), 0u);
  ASSERT_EQ(window.links.size(), 1u);
  EXPECT_EQ(window.links[0], L"");
  EXPECT_EQ(window.sizes[0], 2u);
}

TEST_F(SecondStart, CutsLongLinksTo512Characters) {
  FakeLauncherWindow window;
  const std::wstring link = L"talvoreen://" + std::wstring(588, L'x');
  ASSERT_EQ(link.size(), 600u);
  EXPECT_EQ(RunSecondLauncher({L"--join", link.substr(12)}), 0u);
  ASSERT_EQ(window.links.size(), 1u);
  EXPECT_EQ(window.links[0], link.substr(0, 512));
  EXPECT_EQ(window.sizes[0], 513u * 2);
}

TEST_F(SecondStart, WithoutALinkOnlyTheWindowComesForward) {
  FakeLauncherWindow window;
  EXPECT_EQ(RunSecondLauncher({}), 0u);
  EXPECT_TRUE(window.links.empty());
  EXPECT_TRUE(IsWindowVisible(window.hwnd));
}

TEST_F(SecondStart, ExitsQuietlyWhenTheTwinHasNoWindowYet) {
  EXPECT_EQ(RunSecondLauncher({L"--link", L"talvoreen://corvel"}), 0u);
}

}  // namespace
