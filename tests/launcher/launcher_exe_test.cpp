// The built launcher started as a real child process.
#include <gtest/gtest.h>

#include "base/files.h"
#include "base/registry.h"
#include "base/text.h"
#include "launcher/single_instance.h"
#include "manifest/signing_key.h"
#include "tests/support/signing.h"
#include "tests/support/test_support.h"

using testing_support::LauncherExePath;
using testing_support::QuoteArgument;
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
  // The header ends with the key this build trusts, and says so when it is the development key.
  const std::string header = "Talvoreen Launcher 0.4.21 | headless Sync | install " + Utf8FromWide(install) +
                             " | key " + SigningKeyFingerprint() +
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

// A console program with a console of its own (as cmd.exe is) starts the launcher without
// standard handles, as a prompt does without redirection, and copies its console's text
// into args[0] afterwards. Exit code: the launcher's, or 100 + a step that failed.
TV_CHILD_ROLE(console_parent) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;  // all three null
  PROCESS_INFORMATION pi{};
  std::wstring line = QuoteArgument(LauncherExePath());
  for (size_t i = 1; i < args.size(); ++i) line += L" " + QuoteArgument(args[i]);
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 101;
  CloseHandle(pi.hThread);
  const bool ended = WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0;
  DWORD code = 102;
  if (ended) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);

  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) return 103;
  std::wstring text;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::wstring cells(static_cast<size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(console, &cells[0], info.dwSize.X, COORD{0, row}, &read);
    cells.resize(read);
    while (!cells.empty() && cells.back() == L' ') cells.pop_back();
    text += cells + L"\n";
  }
  CloseHandle(console);
  if (!WriteBytes(args[0], Utf8FromWide(text))) return 104;
  return static_cast<int>(code);
}

TEST(HeadlessExe, WithoutStandardHandlesTheJobWritesToTheParentsConsole) {
  TempDir dir;
  const std::wstring screen = dir.Join(L"screen.txt");
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::wstring line = QuoteArgument(testing_support::SelfExePath()) + L" --child console_parent " +
                      QuoteArgument(screen) + L" --headless " + QuoteArgument(L"Şenlik") + L" --dir " +
                      QuoteArgument(dir.Path());
  ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &si, &pi));
  CloseHandle(pi.hThread);
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 180000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(code, 2u);  // the launcher's own exit code for an unknown job
  // Wide text on the console: the Turkish letter arrives whatever the console's code page.
  const std::string text = ReadBytes(screen);
  EXPECT_NE(text.find("unknown --headless job: \xC5\x9E" "enlik\n"), std::string::npos) << text;
  // The standard-error note with the build's key reaches the console as well.
  EXPECT_NE(text.find("Talvoreen Launcher 0.4.21 | key " + SigningKeyFingerprint()), std::string::npos) << text;
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
