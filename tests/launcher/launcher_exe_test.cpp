// The built launcher started as a real child process.
#include <windows.h>

#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "base/files.h"
#include "base/registry.h"
#include "base/text.h"
#include "launcher/single_instance.h"
#include "system/uninstall.h"
#include "manifest/signing_key.h"
#include "tests/support/http_test_server.h"
#include "tests/support/signing.h"
#include "tests/support/test_support.h"

using testing_support::LauncherExePath;
using testing_support::QuoteArgument;
using testing_support::ProcessResult;
using testing_support::ReadBytes;
using testing_support::RegistryValueGuard;
using testing_support::RunLauncher;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

struct BothStreams {
  DWORD exitCode = 999;
  std::string out, err;
};

// Standard output and standard error each into a file of their own, in the given folder.
BothStreams RunCapturingBoth(const std::wstring& exe, const std::vector<std::wstring>& args,
                             const std::wstring& workingDir = L"") {
  TempDir streams;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  auto open = [&](const wchar_t* name) {
    return CreateFileW(streams.Join(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  };
  HANDLE out = open(L"out"), err = open(L"err");
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  std::wstring line = QuoteArgument(exe);
  for (const std::wstring& arg : args) line += L" " + QuoteArgument(arg);
  BothStreams result;
  const bool started = CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      workingDir.empty() ? nullptr : workingDir.c_str(), &si, &pi);
  EXPECT_TRUE(started) << "cannot start " << Utf8FromWide(exe);
  if (started) {
    CloseHandle(pi.hThread);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 180000), WAIT_OBJECT_0);
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  CloseHandle(err);
  result.out = ReadBytes(streams.Join(L"out"));
  result.err = ReadBytes(streams.Join(L"err"));
  return result;
}

// Nothing on standard error in a release; a development-key build warns there, one line.
std::string ExpectedStandardError() {
  return testing_support::BuiltWithDevelopmentKey()
             ? "Talvoreen Launcher 0.4.21 | key " + SigningKeyFingerprint() + " | DEVELOPMENT SIGNING KEY, NOT A RELEASE\n"
             : std::string();
}

// The lines of a log, without their time and process prefix.
std::vector<std::string> LogMessages(const std::wstring& logFile) {
  std::vector<std::string> messages;
  const std::string log = ReadBytes(logFile);
  for (size_t at = 0; at < log.size();) {
    const size_t end = log.find("\r\n", at);
    const std::string line = log.substr(at, end - at);
    const size_t body = line.find("] ");
    messages.push_back(body == std::string::npos ? line : line.substr(body + 2));
    at = end == std::string::npos ? log.size() : end + 2;
  }
  return messages;
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

TEST(HeadlessExe, OutputAndLogHeaderKeepTheirForm) {
  TempDir dir;
  const std::wstring install = dir.Join(L"Kurulum Ğ");
  BothStreams r = RunCapturingBoth(LauncherExePath(), {L"--headless", L"Sync", L"--dir", install + L"/"});
  EXPECT_EQ(r.out, "unknown --headless job: Sync\n");
  EXPECT_EQ(r.err, ExpectedStandardError());
  EXPECT_EQ(r.exitCode, 2u);
  // The header line as scripts read it to its end; the key this build trusts on the next line.
  const std::vector<std::string> lines = LogMessages(JoinPath(install, L"TALVOREEN\\logs\\launcher.log"));
  const std::vector<std::string> expected = {
      "Talvoreen Launcher 0.4.21 | headless Sync | install " + Utf8FromWide(install),
      "key " + SigningKeyFingerprint() +
          (testing_support::BuiltWithDevelopmentKey() ? " | DEVELOPMENT SIGNING KEY, NOT A RELEASE" : "")};
  EXPECT_EQ(lines, expected);
  // The jobs that end before any log keep standard error as quiet.
  BothStreams usage = RunCapturingBoth(LauncherExePath(), {L"--headless", L"sync"});
  EXPECT_EQ(usage.out, "--headless needs --dir <install folder>\n");
  EXPECT_EQ(usage.err, ExpectedStandardError());
}

// Forms that a current folder would complete never reach a job, even when the folder they
// would name holds an installation; a drive root holds one's data folder only by its name.
TEST(HeadlessExe, DriveRootsAndDriveRelativeFoldersAreUsageErrors) {
  TempDir dir;
  const std::wstring install = dir.Join(L"Talvoreen");
  ASSERT_TRUE(CreateDirectoryTree(JoinPath(install, L"TALVOREEN")));
  ASSERT_TRUE(WriteBytes(JoinPath(install, L"Talvoreen.exe"), "MZ"));
  const std::wstring drive = install.substr(0, 2);
  for (const std::wstring& given : {drive, drive + L".", drive + L"\\", install.substr(2)}) {
    for (const wchar_t* job : {L"uninstall", L"sync"}) {
      BothStreams r = RunCapturingBoth(LauncherExePath(), {L"--headless", job, L"--dir", given}, install);
      EXPECT_EQ(r.out, "--dir must name an install folder, not a drive root or a drive-relative path: " +
                           Utf8FromWide(given) + "\n");
      EXPECT_EQ(r.exitCode, 2u) << Utf8FromWide(given);
    }
  }
  EXPECT_TRUE(FileExists(JoinPath(install, L"Talvoreen.exe")));
  EXPECT_FALSE(DirectoryExists(JoinPath(install, L"TALVOREEN\\logs")));
}

// "servers" needs no --dir: run from a folder of the player's own, it must leave nothing there,
// since a log folder would make the removal take that folder for an installation.
TEST(HeadlessExe, ServersLeavesTheCurrentFolderAlone) {
  RegistryValueGuard guard(kLauncherRegistryKey, kInstallDirValue);
  DeleteRegistryValue(kLauncherRegistryKey, kInstallDirValue);
  ASSERT_FALSE(DirectoryExists(L"C:\\Talvoreen"));
  TempDir own;
  CreateDirectoryTree(own.Join(L"mods"));
  CreateDirectoryTree(own.Join(L"skins"));
  ASSERT_TRUE(WriteBytes(own.Join(L"mods\\notes.txt"), "mine"));
  ASSERT_TRUE(WriteBytes(own.Join(L"skins\\skin.png"), "mine"));
  const std::wstring loopback = testing_support::TestFile(L"loopback\\Talvoreen Launcher.exe");
  BothStreams servers = RunCapturingBoth(loopback, {L"--headless", L"servers"}, own.Path());
  EXPECT_NE(servers.out.find(" -> "), std::string::npos) << servers.out;
  EXPECT_FALSE(DirectoryExists(own.Join(L"TALVOREEN")));
  BothStreams removal = RunCapturingBoth(loopback, {L"--headless", L"uninstall", L"--dir", own.Path()}, own.Path());
  EXPECT_EQ(removal.out, "removed 0 files error: " + Utf8FromWide(kNoInstallationText) + "\n");
  EXPECT_EQ(ReadBytes(own.Join(L"mods\\notes.txt")), "mine");
  EXPECT_EQ(ReadBytes(own.Join(L"skins\\skin.png")), "mine");

  // With an installation on this machine the job's log goes there.
  TempDir installed;
  ASSERT_TRUE(WriteBytes(installed.Join(L"Talvoreen.exe"), "MZ"));
  WriteRegistryString(kLauncherRegistryKey, kInstallDirValue, installed.Path());
  RunCapturingBoth(loopback, {L"--headless", L"servers"}, own.Path());
  EXPECT_FALSE(DirectoryExists(own.Join(L"TALVOREEN")));
  const std::vector<std::string> lines = LogMessages(installed.Join(L"TALVOREEN\\logs\\launcher.log"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Talvoreen Launcher 0.4.21 | headless servers | install ");
}

// A list as an operator edits it by hand, fetched and synchronised by the real job.
TEST(HeadlessExe, AHandWrittenServerListSyncs) {
  const std::string md5 = "900150983cd24fb0d6963f7d28e17f72";  // of "abc"
  const std::string list = "// edited by hand\n{\"schema\": 1, /* keep the defaults */\n"
                           "\"note\": \"tabs\tand\nlines\",\n\"httpThreads\": NaN,\n\"resources\": [\n"
                           "  {\"name\": \"race\", \"files\": [\n"
                           "    {\"path\": \"car.lua\", \"size\": 3, \"md5\": \"" + md5 + "\",},\n"
                           "    {\"path\": \"odd.lua\", \"size\": Infinity, \"md5\": \"" + md5 + "\"},\n"
                           "  ],},\n],\n}\n";
  testing_support::HttpTestServer server([&](const testing_support::TestRequest& request) {
    testing_support::TestResponse response;
    if (request.target == "/client-files.json") {
      response.body = list;
    } else if (request.target.rfind("/race/car.lua?", 0) == 0) {
      response.body = "abc";
    } else {
      response = testing_support::StatusResponse(404);
    }
    return response;
  });
  TempDir dir;
  const std::wstring cache = dir.Join(L"cache");
  ProcessResult r = RunLauncher({L"--headless", L"server-corvel", L"--dir", dir.Join(L"install"), L"--cache", cache,
                                 L"--server-list", server.Url("/client-files.json"), L"--cdn", L"http://127.0.0.1:9"});
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_NE(r.output.find("result up-to-date build server unavailable 0\n"), std::string::npos) << r.output;
  EXPECT_EQ(ReadBytes(JoinPath(cache, L"resources\\race\\car.lua")), "abc");
  EXPECT_FALSE(FileExists(JoinPath(cache, L"resources\\race\\odd.lua")));
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
  // A development-key build's warning on standard error reaches the console as well.
  EXPECT_EQ(text.find("Talvoreen Launcher 0.4.21 | key " + SigningKeyFingerprint()) != std::string::npos,
            testing_support::BuiltWithDevelopmentKey())
      << text;
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
// While closing it refuses hand-overs as the real window does once it was closed.
struct FakeLauncherWindow {
  HWND hwnd = nullptr;
  bool closing = false;
  bool closesAfterAnswering = false;  // starts closing between the two messages of a hand-over
  int refusedProbes = 0;
  std::vector<std::wstring> links;
  std::vector<DWORD> sizes;

  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<FakeLauncherWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && message == kBringToFrontMessage) {
      if (!self->closing) {
        self->closing = self->closesAfterAnswering;
        return kBringToFrontAnswer;
      }
      ++self->refusedProbes;
      return 0;
    }
    if (self && message == WM_COPYDATA && !self->closing) {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      std::wstring link;
      if (ReadForwardedLink(data, link)) {
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
    if (hwnd) DestroyWindow(hwnd);
    UnregisterClassW(kWindowClassName, GetModuleHandleW(nullptr));
  }
};

// Serves this thread's messages while waiting for the process to end or the condition to hold;
// the bound only keeps a broken build from hanging the run.
bool ServeUntil(HANDLE process, const std::function<bool()>& done, DWORD boundMs = 60000) {
  const ULONGLONG end = GetTickCount64() + boundMs;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(end - now, 50));
    if (MsgWaitForMultipleObjects(1, &process, FALSE, slice, QS_ALLINPUT) == WAIT_OBJECT_0) return done();
  }
}

bool Ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

// A visible launcher window that belongs to the process.
HWND WindowOf(HANDLE process) {
  for (HWND window = FindWindowExW(nullptr, nullptr, kWindowClassName, nullptr); window;
       window = FindWindowExW(nullptr, window, kWindowClassName, nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == GetProcessId(process) && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

// Waits for the process to end, serving this thread's messages; ends it when it does not.
DWORD FinishProcess(HANDLE process) {
  DWORD code = 999;
  if (!ServeUntil(process, [&] { return Ended(process); })) {
    ADD_FAILURE() << "the launcher did not end";
    TerminateProcess(process, 998);
    WaitForSingleObject(process, 10000);
  }
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

// Starts a second launcher and serves this thread's messages until it ends.
DWORD RunSecondLauncher(const std::vector<std::wstring>& args, const std::wstring& exe = LauncherExePath()) {
  HANDLE process = testing_support::StartProcess(exe, args);
  EXPECT_NE(process, nullptr);
  return process ? FinishProcess(process) : 999;
}

class SecondStart : public ::testing::Test {
 protected:
  void SetUp() override {
    mutex_ = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
    ASSERT_NE(mutex_, nullptr);
  }
  void TearDown() override {
    if (mutex_) CloseHandle(mutex_);
  }
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

// An elevated window's mutex denies an unelevated start even the opening; that is a running
// launcher all the same, never a reason to open a second window.
TEST_F(SecondStart, AMutexItMayNotOpenIsARunningLauncher) {
  CloseHandle(mutex_);
  mutex_ = nullptr;
  // Everyone denied, this user with them; the creator keeps the handle it made.
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;GA;;;WD)", SDDL_REVISION_1,
                                                                   &attributes.lpSecurityDescriptor, nullptr));
  mutex_ = CreateMutexW(&attributes, FALSE, kInstanceMutexName);
  LocalFree(attributes.lpSecurityDescriptor);
  ASSERT_NE(mutex_, nullptr);
  SetLastError(ERROR_SUCCESS);
  HANDLE again = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
  ASSERT_EQ(again, nullptr) << "the DACL is not enforced here";
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  FakeLauncherWindow window;
  // The loopback build: a launcher that wrongly opens its window stays off the network.
  const std::wstring loopback = testing_support::TestFile(L"loopback\\Talvoreen Launcher.exe");
  HANDLE process = testing_support::StartProcess(loopback, {L"--link", L"talvoreen://corvel"});
  ASSERT_NE(process, nullptr);
  HWND own = nullptr;
  ServeUntil(process, [&] { return Ended(process) || (own = WindowOf(process)) != nullptr; });
  EXPECT_EQ(own, nullptr) << "a second launcher window opened";
  if (own) PostMessageW(own, WM_CLOSE, 0, 0);
  EXPECT_EQ(FinishProcess(process), 0u);
  EXPECT_EQ(window.links, std::vector<std::wstring>{L"talvoreen://corvel"});
}

// A start that meets a twin in its shutdown (lock still held, window closing) waits for the
// lock and opens its own window instead of ending silently.
TEST_F(SecondStart, WaitsOutATwinThatIsClosingAndOpensItsOwnWindow) {
  auto window = std::make_unique<FakeLauncherWindow>();
  window->closing = true;
  TempDir dir;
  HANDLE process = testing_support::StartProcess(
      testing_support::TestFile(L"loopback\\Talvoreen Launcher.exe"), {L"--dir", dir.Path(), L"--cdn", L"http://127.0.0.1:9"});
  ASSERT_NE(process, nullptr);
  // Asked and refused, and asked again: it waits for the lock rather than giving up at once.
  EXPECT_TRUE(ServeUntil(process, [&] { return window->refusedProbes > 1; })) << "it gave up at once";
  window.reset();
  CloseHandle(mutex_);
  mutex_ = nullptr;
  HWND own = nullptr;
  EXPECT_TRUE(ServeUntil(process, [&] { return (own = WindowOf(process)) != nullptr; }));
  if (own) PostMessageW(own, WM_CLOSE, 0, 0);
  EXPECT_EQ(FinishProcess(process), 0u);
}

// A twin that keeps the lock while its window refuses every hand-over: the start gives up once
// its wait has passed, holding nothing.
TEST_F(SecondStart, GivesUpOnATwinThatNeverLetsGo) {
  FakeLauncherWindow window;
  window.closing = true;
  HANDLE mutex = INVALID_HANDLE_VALUE;
  EXPECT_EQ(ClaimSingleInstance(nullptr, mutex, 300), InstanceClaim::GaveUp);
  EXPECT_EQ(mutex, nullptr);
  EXPECT_GT(window.refusedProbes, 1);
}

// A twin that answers and then starts closing refuses the link; it never closes, so the start
// gives up after its wait and tells the player rather than losing the link without a word.
TEST_F(SecondStart, GivingUpOnATwinThatTookNoLinkTellsThePlayer) {
  FakeLauncherWindow window;
  window.closesAfterAnswering = true;
  HANDLE process = testing_support::StartProcess(LauncherExePath(), {L"--link", L"talvoreen://corvel"});
  ASSERT_NE(process, nullptr);
  HWND box = nullptr;
  auto findBox = [&] {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w; w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == GetProcessId(process) && IsWindowVisible(w)) return w;
    }
    return static_cast<HWND>(nullptr);
  };
  EXPECT_TRUE(ServeUntil(process, [&] { return (box = findBox()) != nullptr; }));
  wchar_t text[256] = {};
  if (box) GetDlgItemTextW(box, 0xFFFF, text, 256);
  EXPECT_EQ(std::wstring(text), kTwinNotAnsweringText);
  if (box) PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_EQ(FinishProcess(process), 3u);
  EXPECT_GT(window.refusedProbes, 0);
  EXPECT_TRUE(window.links.empty());
}

// The player's journey: ✕, then at once the launcher again. The first one's process still
// holds the lock for a moment after its window went (under Wine its hide alone waits 2 s for
// a window manager that Xvfb does not have).
TEST(WindowExe, AStartRightAfterClosingOpensAWindow) {
  TempDir dir;
  const std::wstring loopback = testing_support::TestFile(L"loopback\\Talvoreen Launcher.exe");
  const std::vector<std::wstring> args = {L"--dir", dir.Path(), L"--cdn", L"http://127.0.0.1:9"};
  HANDLE first = testing_support::StartProcess(loopback, args);
  ASSERT_NE(first, nullptr);
  HWND firstWindow = nullptr;
  ASSERT_TRUE(ServeUntil(first, [&] { return (firstWindow = WindowOf(first)) != nullptr; }));
  PostMessageW(firstWindow, WM_CLOSE, 0, 0);
  EXPECT_TRUE(ServeUntil(first, [&] { return !IsWindowVisible(firstWindow); })) << "the window stayed";

  HANDLE second = testing_support::StartProcess(loopback, args);
  ASSERT_NE(second, nullptr);
  HWND secondWindow = nullptr;
  EXPECT_TRUE(ServeUntil(second, [&] { return (secondWindow = WindowOf(second)) != nullptr; }));
  EXPECT_EQ(FinishProcess(first), 0u);
  if (secondWindow) PostMessageW(secondWindow, WM_CLOSE, 0, 0);
  EXPECT_EQ(FinishProcess(second), 0u);
}

}  // namespace
