// The two uninstall stages: the worker and the guard removal in-process against the Wine
// prefix's real registry, shell folders and files; the refusals and dialogs through the
// real launcher executable, answered the way a player would.
#include <windows.h>

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <functional>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/format.h"
#include "base/game_copies.h"
#include "base/handles.h"
#include "base/log.h"
#include "base/registry.h"
#include "base/text.h"
#include "gta/gta_installer.h"
#include "launcher/single_instance.h"
#include "manifest/installed_state.h"
#include "system/install.h"
#include "system/shell.h"
#include "system/uninstall_stages.h"
#include "tests/support/test_support.h"
#include "tests/system/shell_fixture.h"

using testing_support::ReadBytes;
using testing_support::RegistryValueGuard;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

constexpr DWORD kWindowTimeoutMs = 60000;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kRemoveButtonId = 100;
constexpr int kCloseButtonId = 101;
const std::wstring kSuccessText = L"Talvoreen Multiplayer bilgisayarından kaldırıldı.";

std::wstring GuardStandIn() { return testing_support::TestFile(L"guard_stand_in.exe"); }
std::wstring FakeLauncher(const wchar_t* name) {
  return testing_support::TestFile(std::wstring(L"fake_launcher_") + name + L".exe");
}

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, buffer);
  return LongPathName(NormalizePath(buffer));
}

bool KeyExists(const wchar_t* key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> Lines(const std::string& bytes) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(WideFromUtf8(bytes.substr(start, end - start)));
  }
  return lines;
}

// ---- Windows of another process ----

std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return std::wstring();
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG, 5000,
                      &copied);
  text.resize(copied);
  return text;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  return TRUE;
}

std::vector<std::wstring> ChildTexts(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
  std::vector<std::wstring> texts;
  for (HWND child : children) texts.push_back(TextOf(child));
  return texts;
}

bool HasText(HWND window, const std::wstring& text) {
  for (const std::wstring& t : ChildTexts(window)) {
    if (t == text) return true;
  }
  return false;
}

struct DialogSearch {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM data) {
  auto& search = *reinterpret_cast<DialogSearch*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (owner == search.processId && IsWindowVisible(window) && std::wstring(className) == L"#32770") {
    search.found.push_back(window);
  }
  return TRUE;
}

std::vector<HWND> DialogsOf(DWORD processId) {
  DialogSearch search{processId, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsMessageBox(HWND w) {
  return GetDlgItem(w, kMessageBoxTextId) && GetDlgItem(w, IDOK) && !GetDlgItem(w, kRemoveButtonId) &&
         !GetDlgItem(w, kCloseButtonId);
}
bool IsConfirmation(HWND w) { return GetDlgItem(w, kRemoveButtonId) != nullptr; }
bool IsProgress(HWND w) { return GetDlgItem(w, kCloseButtonId) != nullptr; }

// Polls until a dialog of the process matches; null once the process has ended or the
// (generous) time is up.
HWND WaitForDialog(DWORD processId, HANDLE process, const std::function<bool(HWND)>& matches) {
  const ULONGLONG deadline = GetTickCount64() + kWindowTimeoutMs;
  while (GetTickCount64() < deadline) {
    for (HWND w : DialogsOf(processId)) {
      if (matches(w)) return w;
    }
    if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

bool WaitUntil(const std::function<bool()>& condition) {
  const ULONGLONG deadline = GetTickCount64() + kWindowTimeoutMs;
  while (GetTickCount64() < deadline) {
    if (condition()) return true;
    Sleep(50);
  }
  return condition();
}

void PressButton(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// A launcher process under test; one that is still running at the end of a failed test is
// ended so that it does not outlive the test program.
class Launched {
 public:
  explicit Launched(HANDLE process) : process_(process) {}
  explicit Launched(DWORD processId)
      : process_(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, processId)) {}
  ~Launched() {
    if (process_.Valid() && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.Get(), 99);
    }
  }
  bool Valid() const { return process_.Valid(); }
  DWORD Id() const { return GetProcessId(process_.Get()); }
  HANDLE Handle() const { return process_.Get(); }
  DWORD ExitCode() const {
    if (WaitForSingleObject(process_.Get(), kWindowTimeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.Get(), &code);
    return code;
  }
  HWND Dialog(const std::function<bool(HWND)>& matches) const { return WaitForDialog(Id(), Handle(), matches); }

 private:
  UniqueHandle process_;
};

DWORD FindProcessByName(const std::wstring& exeName) {
  DWORD found = 0;
  WaitUntil([&] {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
      if (EqualsIgnoreCase(entry.szExeFile, exeName)) found = entry.th32ProcessID;
    }
    return found != 0;
  });
  return found;
}

// ---- Fixture ----

// Leaves the prefix's shell and registry state as it found it, apart from "Software\Talvoreen"
// that every uninstall removes.
class UninstallStagesTest : public ShellStateTest {
 protected:
  void SetUp() override {
    ShellStateTest::SetUp();
    if (HasFatalFailure()) return;
    installedGuard = InstalledGuardExecutable();
    ASSERT_FALSE(installedGuard.empty());
    record = work.Join(L"guard-record.txt");
    RemoveInstalledGuard();
  }
  void TearDown() override {
    RemoveInstalledGuard();
    for (const wchar_t* name : {L"TV_GUARD_RECORD", L"TV_GUARD_HOLD", L"TV_GUARD_EXIT"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
    ShellStateTest::TearDown();
  }
  void RemoveInstalledGuard() {
    if (installedGuard.empty()) return;
    DeleteFileW(installedGuard.c_str());
    RemoveDirectoryW(ParentPath(installedGuard).c_str());
  }

  void Put(const std::wstring& relative, const std::string& content = "x") {
    const std::wstring path = dir.Join(relative);
    CreateDirectoryTree(ParentPath(path));
    ASSERT_TRUE(WriteBytes(path, content));
  }
  bool Has(const std::wstring& relative) { return Exists(dir.Join(relative)); }

  // An installation as the launcher leaves it, with the GTA copy recorded inside it.
  void MakeInstallation(bool withScreenshot) {
    Put(L"Talvoreen.exe");
    if (!FileExists(dir.Join(L"Talvoreen Launcher.exe"))) Put(L"Talvoreen Launcher.exe");
    Put(L"Talvoreen Launcher.exe.old");
    Put(L"models\\a.img");
    Put(L"models\\sub\\b.img");
    Put(L"TALVOREEN\\logs\\launcher.log");
    CreateDirectoryTree(dir.Join(L"TALVOREEN\\screenshots"));
    if (withScreenshot) Put(L"TALVOREEN\\screenshots\\shot1.png");
    Put(L"mods\\deathmatch\\client.lua");
    Put(L"GTA-SA\\gta_sa.exe");
    Put(L"GTA-SA\\models\\gta3.img");
    Put(L".talvoreen\\gta\\talvoreen-gtasa.rar.part");
    Put(L".talvoreen\\manifest-stable.json");
    InstalledState state;
    state.build = "b1";
    state.complete = true;
    for (const char* path : {"Talvoreen.exe", "models/a.img", "models/sub/b.img"}) {
      InstalledFile f;
      f.path = path;
      state.files.push_back(f);
    }
    ASSERT_TRUE(WriteInstalledState(dir.Join(L".talvoreen\\installed.json"), state));
    ASSERT_TRUE(WriteRegistryString(kCommonRegistryKey, kGtaFolderValue, dir.Join(L"GTA-SA")));
  }

  void InstallGuardStandIn() {
    ASSERT_TRUE(CreateDirectoryTree(ParentPath(installedGuard)));
    ASSERT_TRUE(CopyFileW(GuardStandIn().c_str(), installedGuard.c_str(), FALSE));
    SetEnvironmentVariableW(L"TV_GUARD_RECORD", record.c_str());
  }

  // The real launcher as the installed one, so that it runs from the install folder.
  void UseRealLauncher() {
    const std::wstring target = dir.Join(L"Talvoreen Launcher.exe");
    ASSERT_TRUE(CopyFileW(testing_support::LauncherExePath().c_str(), target.c_str(), FALSE));
  }

  void ExpectRegistrationGone() {
    EXPECT_FALSE(KeyExists(L"Software\\Talvoreen"));
    EXPECT_FALSE(KeyExists(kProtocolKey));
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_FALSE(Exists(JoinPath(desktop, kShortcutName)));
    EXPECT_FALSE(Exists(JoinPath(programs, kShortcutName)));
  }

  // The second stage ends with the success box naming the screenshots, which alone remain.
  void ExpectRemovedButScreenshots(Launched& secondStage) {
    ASSERT_TRUE(secondStage.Valid());
    HWND box = secondStage.Dialog(IsMessageBox);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(TextOf(GetDlgItem(box, kMessageBoxTextId)),
              kSuccessText + L"\n\nEkran görüntülerin burada duruyor:\n" + dir.Join(L"TALVOREEN\\screenshots"));
    PressButton(box, IDOK);
    EXPECT_EQ(secondStage.ExitCode(), 0u);
    EXPECT_EQ(ListTree(dir.Path()).files, std::vector<std::wstring>{dir.Join(L"TALVOREEN\\screenshots\\shot1.png")});
  }

  RegistryValueGuard installDirGuard{kLauncherRegistryKey, kInstallDirValue};
  RegistryValueGuard gtaFolderGuard{kCommonRegistryKey, kGtaFolderValue};
  std::wstring installedGuard, record;
  TempDir dir;   // the install folder
  TempDir work;  // records and things outside the install folder
};

// ---- The worker ----

TEST_F(UninstallStagesTest, WorkerRemovesTheInstallationAndKeepsScreenshots) {
  MakeInstallation(true);
  UninstallContext context;
  context.installDir = AcceptedUninstallFolder(dir.Path() + L"\\");
  ASSERT_EQ(context.installDir, dir.Path());
  // What a kill after each step leaves of the marker and the launcher: the marker goes just
  // before the launcher, so neither is ever left alone without the other's reason to stay.
  std::vector<std::pair<bool, bool>> seen;
  context.afterStep = [&](const wchar_t*) {
    seen.emplace_back(Has(L".talvoreen-uninstall"), Has(L"Talvoreen Launcher.exe"));
  };
  RunUninstallWorker(context);
  const std::vector<std::pair<bool, bool>> expected = {
      {true, true}, {true, true}, {true, true}, {false, true}, {false, false}};
  EXPECT_EQ(seen, expected);

  EXPECT_TRUE(context.done.load());
  EXPECT_EQ(context.failures, L"") << Utf8FromWide(context.failures);
  EXPECT_EQ(context.screenshotsDir, dir.Join(L"TALVOREEN\\screenshots"));
  EXPECT_EQ(ReadBytes(dir.Join(L"TALVOREEN\\screenshots\\shot1.png")), "x");
  // Only the screenshots are left: everything else of the folder went.
  std::vector<std::wstring> left;
  for (const std::wstring& file : ListTree(dir.Path()).files) left.push_back(file);
  EXPECT_EQ(left, std::vector<std::wstring>{dir.Join(L"TALVOREEN\\screenshots\\shot1.png")});
  EXPECT_EQ(ListTree(dir.Path()).folders.size(), 3u);  // the folder, TALVOREEN, screenshots
  // Core: the client, two models, the log, client.lua, installed.json; then the GTA copy (2),
  // the launcher and its ".old" (2), and what was left in ".talvoreen" (2).
  EXPECT_EQ(context.removedCount.load(), 12u);
  WriteProgressText(context);
  EXPECT_EQ(std::wstring(context.progressText), L"12 dosya silindi");
}

TEST_F(UninstallStagesTest, EmptyScreenshotsFolderGoesAndTheFolderOnlyWhenNothingElseRemains) {
  MakeInstallation(false);
  // What an install killed during its write test leaves.
  Put(L".talvoreen-write-test", "ok");
  Put(L".talvoreen-write-test.tmp", "o");
  UninstallContext context;
  context.installDir = dir.Path();
  RunUninstallWorker(context);
  EXPECT_EQ(context.failures, L"");
  EXPECT_EQ(context.screenshotsDir, L"");
  EXPECT_FALSE(Exists(dir.Path()));

  ASSERT_TRUE(CreateDirectoryW(dir.Path().c_str(), nullptr));
  MakeInstallation(false);
  Put(L"player-notes.txt", "mine");
  UninstallContext again;
  again.installDir = dir.Path();
  RunUninstallWorker(again);
  EXPECT_EQ(again.failures, L"");
  EXPECT_EQ(again.screenshotsDir, L"");
  EXPECT_EQ(ReadBytes(dir.Join(L"player-notes.txt")), "mine");
  EXPECT_FALSE(Has(L"TALVOREEN"));
  EXPECT_EQ(ListTree(dir.Path()).files.size(), 1u);
}

// A folder accepted for the launcher alone is no installation: its launcher goes, and no
// marker is left that would make a later run treat the player's "mods" as game files.
TEST_F(UninstallStagesTest, AFolderWithOnlyTheLauncherLosesOnlyTheLauncher) {
  Put(L"Talvoreen Launcher.exe");
  Put(L"mods\\keep.lua", "mine");
  UninstallContext context;
  context.installDir = AcceptedUninstallFolder(dir.Path());
  ASSERT_EQ(context.installDir, dir.Path());
  std::vector<std::wstring> stepsWithMarker;
  context.afterStep = [&](const wchar_t* step) {
    if (Has(L".talvoreen-uninstall")) stepsWithMarker.push_back(step);
  };
  RunUninstallWorker(context);
  EXPECT_EQ(context.failures, L"");
  EXPECT_TRUE(stepsWithMarker.empty());
  EXPECT_EQ(ListTree(dir.Path()).files, std::vector<std::wstring>{dir.Join(L"mods\\keep.lua")});
}

// A run that cannot leave its marker could not be finished after a kill: it removes nothing,
// not even the guard or the registration, and says why.
TEST_F(UninstallStagesTest, AMarkerThatCannotBeWrittenFailsBeforeAnythingGoes) {
  MakeInstallation(false);
  InstallGuardStandIn();
  ASSERT_TRUE(CreateDirectoryW(dir.Join(L".talvoreen-uninstall").c_str(), nullptr));  // in the marker's way
  UninstallContext context;
  context.installDir = AcceptedUninstallFolder(dir.Path());
  RunUninstallWorker(context);
  EXPECT_TRUE(context.done.load());
  EXPECT_TRUE(context.nothingRemoved);
  const std::wstring head = L"Kaldırma kaydı yazılamadı (" + dir.Join(L".talvoreen-uninstall") + L"): ";
  EXPECT_EQ(context.failures.rfind(head, 0), 0u) << Utf8FromWide(context.failures);
  EXPECT_GT(context.failures.size(), head.size());
  EXPECT_EQ(context.removedCount.load(), 0u);
  for (const wchar_t* kept : {L"Talvoreen.exe", L"models\\a.img", L"GTA-SA\\gta_sa.exe", L"Talvoreen Launcher.exe",
                              L".talvoreen\\installed.json"}) {
    EXPECT_TRUE(Has(kept)) << Utf8FromWide(kept);
  }
  EXPECT_EQ(ReadRegistryString(kCommonRegistryKey, kGtaFolderValue), dir.Join(L"GTA-SA"));
  EXPECT_FALSE(Exists(record));
}

TEST_F(UninstallStagesTest, WorkerDoesNotFollowLinksOutOfTheFolder) {
  MakeInstallation(false);
  ASSERT_TRUE(WriteBytes(work.Join(L"precious.txt"), "keep"));
  const DWORD flags = SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2;  // unprivileged where the system allows it
  if (!CreateSymbolicLinkW(dir.Join(L"GTA-SA\\linked").c_str(), work.Path().c_str(), flags)) {
    GTEST_SKIP() << "no directory links here: " << GetLastError();
  }
  ASSERT_TRUE(CreateSymbolicLinkW(dir.Join(L".talvoreen\\linked").c_str(), work.Path().c_str(), flags));
  ASSERT_TRUE(CreateSymbolicLinkW(dir.Join(L"models\\linked").c_str(), work.Path().c_str(), flags));
  UninstallContext context;
  context.installDir = dir.Path();
  RunUninstallWorker(context);
  EXPECT_EQ(context.failures, L"") << Utf8FromWide(context.failures);
  EXPECT_EQ(ReadBytes(work.Join(L"precious.txt")), "keep");
  EXPECT_FALSE(Exists(dir.Path()));
}

TEST_F(UninstallStagesTest, FullUninstallLeavesNoRegistrationBehind) {
  std::wstring launcher, error;
  ASSERT_TRUE(InstallIntoFolder(dir.Path(), launcher, error)) << Utf8FromWide(error);
  MakeInstallation(true);
  ASSERT_EQ(FindExistingInstall(), dir.Path());
  ASSERT_TRUE(KeyExists(kProtocolKey));
  ASSERT_TRUE(KeyExists(kUninstallKey));
  ASSERT_TRUE(FileExists(JoinPath(desktop, kShortcutName)));
  ASSERT_TRUE(FileExists(JoinPath(programs, kShortcutName)));
  // Desktop copies of earlier versions go; a player's program of the same name stays, as does
  // a shortcut of the legacy name that points elsewhere.
  const std::wstring oldCopy = JoinPath(desktop, L"Talvoreen Multiplayer.exe");
  ASSERT_TRUE(CopyFileW(FakeLauncher(L"v0419").c_str(), oldCopy.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(FakeLauncher(L"other").c_str(), JoinPath(desktop, L"Talvoreen Client.exe").c_str(), FALSE));
  const std::wstring legacyLink = JoinPath(desktop, kLegacyShortcutName);
  ASSERT_TRUE(CreateShortcut(legacyLink, work.Join(L"Talvoreen Launcher.exe"), work.Path()));
  ASSERT_TRUE(CreateShortcut(JoinPath(programs, kLegacyShortcutName), FakeLauncher(L"other"), work.Path()));
  PWSTR programData = nullptr;
  ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &programData)));
  const std::wstring shared = JoinPath(programData, L"Talvoreen");
  CoTaskMemFree(programData);
  ASSERT_TRUE(CreateDirectoryTree(JoinPath(shared, L"cache")));
  ASSERT_TRUE(WriteBytes(JoinPath(shared, L"cache\\state.bin"), "s"));

  UninstallContext context;
  context.installDir = AcceptedUninstallFolder(dir.Path());
  // A second stage killed just before the launcher goes must leave no registration pointing
  // to a launcher that a rerun would then delete.
  bool launcherThere = false, entryThere = true;
  context.afterStep = [&](const wchar_t* step) {
    if (std::wstring(step) != L"registration-removed") return;
    launcherThere = Has(L"Talvoreen Launcher.exe");
    entryThere = KeyExists(kUninstallKey) || KeyExists(kProtocolKey) || FileExists(JoinPath(desktop, kShortcutName));
  };
  RunUninstallWorker(context);
  EXPECT_TRUE(launcherThere);
  EXPECT_FALSE(entryThere);

  EXPECT_EQ(context.failures, L"") << Utf8FromWide(context.failures);
  ExpectRegistrationGone();
  EXPECT_EQ(FindExistingInstall(), L"");
  EXPECT_FALSE(Exists(JoinPath(desktop, L"Talvoreen Multiplayer.exe")));
  EXPECT_TRUE(Exists(JoinPath(desktop, L"Talvoreen Client.exe")));
  EXPECT_FALSE(Exists(JoinPath(desktop, kLegacyShortcutName)));
  EXPECT_TRUE(Exists(JoinPath(programs, kLegacyShortcutName)));
  EXPECT_FALSE(Exists(shared));
  EXPECT_FALSE(Has(L"Talvoreen Launcher.exe"));
  EXPECT_TRUE(Has(L"TALVOREEN\\screenshots\\shot1.png"));
}

// ---- The guard ----

// Elevated, the guard runs only from where it is installed: never from the install folder
// or a temporary copy, folders that programs without elevation can write to.
TEST_F(UninstallStagesTest, GuardRunsOnlyFromItsProgramFilesFolder) {
  // Without an installed guard or service nothing is started, even with a copy in the folder.
  ASSERT_TRUE(CreateDirectoryTree(dir.Join(L"TALVOREEN")));
  ASSERT_TRUE(CopyFileW(GuardStandIn().c_str(), dir.Join(L"TALVOREEN\\TalvoreenGuard.exe").c_str(), FALSE));
  SetEnvironmentVariableW(L"TV_GUARD_RECORD", record.c_str());
  RemoveGuardService();
  EXPECT_FALSE(Exists(record));

  // The 64-bit Program Files folder, as a 32-bit process on 64-bit Windows is told of it.
  wchar_t saved[MAX_PATH] = {};
  const DWORD savedLength = GetEnvironmentVariableW(L"ProgramW6432", saved, MAX_PATH);
  const std::wstring native = work.Join(L"Program Files");
  const std::wstring nativeGuard = JoinPath(JoinPath(native, kGuardProgramFolder), kGuardExeName);
  ASSERT_TRUE(CreateDirectoryTree(ParentPath(nativeGuard)));
  ASSERT_TRUE(CopyFileW(GuardStandIn().c_str(), nativeGuard.c_str(), FALSE));
  SetEnvironmentVariableW(L"ProgramW6432", native.c_str());
  EXPECT_TRUE(EqualsIgnoreCase(InstalledGuardExecutable(), nativeGuard));
  RemoveGuardService();
  SetEnvironmentVariableW(L"ProgramW6432", savedLength > 0 && savedLength < MAX_PATH ? saved : nullptr);
  const auto nativeLines = Lines(ReadBytes(record));
  ASSERT_EQ(nativeLines.size(), 2u);
  EXPECT_TRUE(EqualsIgnoreCase(nativeLines[0], nativeGuard)) << Utf8FromWide(nativeLines[0]);
  DeleteFileW(record.c_str());

  InstallGuardStandIn();
  RemoveGuardService();
  const auto lines = Lines(ReadBytes(record));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(EqualsIgnoreCase(lines[0], installedGuard)) << Utf8FromWide(lines[0]);
  EXPECT_EQ(lines[1], L"--uninstall");
  EXPECT_FALSE(Exists(JoinPath(TempFolder(), L"TalvoreenGuard-Uninstall-" + std::to_wstring(GetCurrentProcessId()) +
                                                  L".exe")));
}

TEST_F(UninstallStagesTest, GuardProblemsAreLogged) {
  SetLogDirectory(work.Join(L"logs"));
  InstallGuardStandIn();
  SetEnvironmentVariableW(L"TV_GUARD_EXIT", L"3");
  RemoveGuardService();
  std::string log = ReadBytes(work.Join(L"logs\\launcher.log"));
  EXPECT_NE(log.find("guard service removal failed: " + Utf8FromWide(WindowsErrorText(3)) + "\r\n"), std::string::npos)
      << log;

  // An installed guard that is no program cannot be started.
  ASSERT_TRUE(WriteBytes(installedGuard, "not a program"));
  unsigned long exitCode = 0, errorCode = 0;
  EXPECT_FALSE(RunElevated(installedGuard, L"--uninstall", exitCode, errorCode));
  EXPECT_NE(errorCode, 0u);
  RemoveGuardService();
  log = ReadBytes(work.Join(L"logs\\launcher.log"));
  EXPECT_NE(log.find("guard service not removed: " + Utf8FromWide(WindowsErrorText(errorCode)) + "\r\n"),
            std::string::npos)
      << log;
}

// ---- The real executable ----

TEST_F(UninstallStagesTest, RefusedWhileTheLauncherOrAGameCopyRuns) {
  struct Case {
    std::wstring mutex;
    std::wstring text;
  };
  const Case cases[] = {
      {GameInstanceMutexName(1), L"Oyun açık. Önce oyunu kapat, sonra tekrar dene."},
      {kInstanceMutexName, L"Talvoreen Launcher açık. Önce launcher'ı kapat, sonra tekrar dene."},
  };
  for (const Case& c : cases) {
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, c.mutex.c_str()));
    ASSERT_TRUE(mutex.Valid());
    Launched launcher(testing_support::StartProcess(testing_support::LauncherExePath(), {L"--uninstall"}));
    ASSERT_TRUE(launcher.Valid());
    HWND box = launcher.Dialog(IsMessageBox);
    ASSERT_NE(box, nullptr) << Utf8FromWide(c.text);
    EXPECT_EQ(TextOf(box), L"Talvoreen Multiplayer");
    EXPECT_EQ(TextOf(GetDlgItem(box, kMessageBoxTextId)), c.text);
    PressButton(box, IDOK);
    EXPECT_EQ(launcher.ExitCode(), 1u);
  }
}

TEST_F(UninstallStagesTest, CancelledConfirmationRemovesNothing) {
  MakeInstallation(false);
  UseRealLauncher();
  Launched launcher(testing_support::StartProcess(dir.Join(L"Talvoreen Launcher.exe"), {L"--uninstall"}));
  ASSERT_TRUE(launcher.Valid());
  HWND dialog = launcher.Dialog(IsConfirmation);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(TextOf(dialog), L"Talvoreen Multiplayer");
  EXPECT_TRUE(HasText(dialog, L"Talvoreen Multiplayer kaldırılsın mı?"));
  EXPECT_TRUE(HasText(dialog, L"Oyun dosyaları, GTA: San Andreas, launcher, kısayollar ve oyunun ayarları "
                              L"silinecek. Ekran görüntülerin silinmez."));
  EXPECT_EQ(TextOf(GetDlgItem(dialog, kRemoveButtonId)), L"Kaldır");
  ASSERT_NE(GetDlgItem(dialog, IDCANCEL), nullptr);
  PressButton(dialog, IDCANCEL);
  EXPECT_EQ(launcher.ExitCode(), 0u);
  EXPECT_TRUE(Has(L"Talvoreen.exe"));
  EXPECT_TRUE(Has(L"GTA-SA\\gta_sa.exe"));
  EXPECT_FALSE(Exists(JoinPath(TempFolder(), L"Talvoreen-Uninstall-" + std::to_wstring(launcher.Id()) + L".exe")));
}

// Without its marker a removal killed half-way could not be finished later, so a folder where
// the marker cannot be written loses nothing, and the box says so.
TEST_F(UninstallStagesTest, AMarkerThatCannotBeWrittenRemovesNothing) {
  MakeInstallation(false);
  UseRealLauncher();
  ASSERT_TRUE(CreateDirectoryW(dir.Join(L".talvoreen-uninstall").c_str(), nullptr));  // in the marker's way
  Launched firstStage(testing_support::StartProcess(dir.Join(L"Talvoreen Launcher.exe"), {L"--uninstall"}));
  ASSERT_TRUE(firstStage.Valid());
  const DWORD firstId = firstStage.Id();
  HWND dialog = firstStage.Dialog(IsConfirmation);
  ASSERT_NE(dialog, nullptr);
  PressButton(dialog, kRemoveButtonId);
  EXPECT_EQ(firstStage.ExitCode(), 0u);
  const DWORD secondId = FindProcessByName(L"Talvoreen-Uninstall-" + std::to_wstring(firstId) + L".exe");
  ASSERT_NE(secondId, 0u);
  Launched launcher(secondId);
  HWND box = launcher.Dialog(IsMessageBox);
  ASSERT_NE(box, nullptr);
  const std::wstring text = TextOf(GetDlgItem(box, kMessageBoxTextId));
  const std::wstring head = L"Talvoreen Multiplayer kaldırılamadı; hiçbir şey silinmedi:\n";
  const std::wstring tail = L"\n\nKurulum klasörüne yazılabildiğinden emin olup tekrar dene.";
  EXPECT_EQ(text.rfind(head, 0), 0u) << Utf8FromWide(text);
  EXPECT_NE(text.find(dir.Join(L".talvoreen-uninstall")), std::wstring::npos) << Utf8FromWide(text);
  EXPECT_EQ(text.size() > tail.size() ? text.substr(text.size() - tail.size()) : text, tail);
  PressButton(box, IDOK);
  EXPECT_EQ(launcher.ExitCode(), 1u);
  EXPECT_TRUE(Has(L"Talvoreen.exe"));
  EXPECT_TRUE(Has(L"models\\sub\\b.img"));
  EXPECT_TRUE(Has(L"Talvoreen Launcher.exe"));
}

// A launcher downloaded beside the player's own game and mods, with nothing registered, is no
// installation: its "--uninstall" removes nothing of that folder, itself included.
TEST_F(UninstallStagesTest, AStrayCopyWithNothingRegisteredRemovesNothing) {
  ASSERT_TRUE(WriteRegistryString(kLauncherRegistryKey, kInstallDirValue, L""));
  UseRealLauncher();
  Put(L"GTA-SA\\gta_sa.exe", "mine");
  Put(L"mods\\deathmatch\\mine.lua", "mine");
  Launched launcher(testing_support::StartProcess(dir.Join(L"Talvoreen Launcher.exe"), {L"--uninstall"}));
  ASSERT_TRUE(launcher.Valid());
  HWND dialog = launcher.Dialog(IsConfirmation);
  ASSERT_NE(dialog, nullptr);
  PressButton(dialog, kRemoveButtonId);
  HWND box = launcher.Dialog(IsMessageBox);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(TextOf(GetDlgItem(box, kMessageBoxTextId)), kSuccessText);
  PressButton(box, IDOK);
  EXPECT_EQ(launcher.ExitCode(), 0u);
  EXPECT_EQ(ReadBytes(dir.Join(L"GTA-SA\\gta_sa.exe")), "mine");
  EXPECT_EQ(ReadBytes(dir.Join(L"mods\\deathmatch\\mine.lua")), "mine");
  EXPECT_TRUE(Has(L"Talvoreen Launcher.exe"));
  EXPECT_FALSE(Has(L".talvoreen-uninstall"));
}

TEST_F(UninstallStagesTest, ConfirmedUninstallHandsOverToATemporaryCopyThatRemovesEverything) {
  std::wstring launcherPath, error;
  ASSERT_TRUE(InstallIntoFolder(dir.Path(), launcherPath, error)) << Utf8FromWide(error);
  MakeInstallation(true);
  UseRealLauncher();
  ASSERT_TRUE(DeleteFileW(dir.Join(L"GTA-SA\\gta_sa.exe").c_str()));
  ASSERT_TRUE(DeleteFileW(dir.Join(L"GTA-SA\\models\\gta3.img").c_str()));
  ASSERT_TRUE(RemoveDirectoryW(dir.Join(L"GTA-SA\\models").c_str()));
  ASSERT_TRUE(RemoveDirectoryW(dir.Join(L"GTA-SA").c_str()));

  Launched firstStage(testing_support::StartProcess(launcherPath, {L"--uninstall"}));
  ASSERT_TRUE(firstStage.Valid());
  const DWORD firstId = firstStage.Id();
  HWND dialog = firstStage.Dialog(IsConfirmation);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(HasText(dialog, L"Oyun dosyaları, launcher, kısayollar ve oyunun ayarları silinecek. Ekran "
                              L"görüntülerin silinmez."));
  PressButton(dialog, kRemoveButtonId);
  EXPECT_EQ(firstStage.ExitCode(), 0u);

  const std::wstring copyName = L"Talvoreen-Uninstall-" + std::to_wstring(firstId) + L".exe";
  const DWORD secondId = FindProcessByName(copyName);
  ASSERT_NE(secondId, 0u);
  Launched secondStage(secondId);
  ExpectRemovedButScreenshots(secondStage);
  ExpectRegistrationGone();
  EXPECT_EQ(FindExistingInstall(), L"");
  const std::wstring copy = JoinPath(TempFolder(), copyName);
  EXPECT_TRUE(FileExists(copy));
  DeleteFileW(copy.c_str());
}

// A second stage killed after any of its steps is finished by running the uninstall again from
// what is left: the launcher's own "--uninstall" while the marker is there (its registration
// may be gone), else the second stage on the folder. A file still held at the first try is not
// forgotten: the run after it removes it too. The marker goes only when nothing failed, so the
// kill between marker and launcher is met without a held file.
TEST_F(UninstallStagesTest, AStageKilledAfterAnyStepIsFinishedFromWhatIsLeft) {
  for (const wchar_t* step : kUninstallSteps) {
    SCOPED_TRACE(Utf8FromWide(step));
    const bool holdAFile = std::wstring(step) != L"marker-removed";
    std::wstring launcherPath, error;
    ASSERT_TRUE(InstallIntoFolder(dir.Path(), launcherPath, error)) << Utf8FromWide(error);
    MakeInstallation(true);
    UseRealLauncher();
    Put(L"data\\held.dat");
    ASSERT_TRUE(WriteInstalledState(dir.Join(L".talvoreen\\installed.json"), [] {
      InstalledState s;
      for (const char* path : {"Talvoreen.exe", "models/a.img", "data/held.dat"}) {
        s.files.emplace_back();
        s.files.back().path = path;
      }
      return s;
    }()));
    struct Killed {};
    UninstallContext killed;
    killed.installDir = AcceptedUninstallFolder(dir.Path());
    killed.afterStep = [step](const wchar_t* reached) {
      if (std::wstring(reached) == step) throw Killed{};
    };
    if (holdAFile) {
      testing_support::FileHeldElsewhere holder(dir.Join(L"data\\held.dat"));
      ASSERT_TRUE(holder.Holding());
      EXPECT_THROW(RunUninstallWorker(killed), Killed);
      ASSERT_TRUE(Has(L"data\\held.dat"));
    } else {
      EXPECT_THROW(RunUninstallWorker(killed), Killed);
      ASSERT_FALSE(Has(L".talvoreen-uninstall"));
    }

    DWORD secondId = 0;
    const bool launcherLeft = Has(L"Talvoreen Launcher.exe") && Has(L".talvoreen-uninstall");
    std::wstring copyName;
    if (launcherLeft) {
      Launched firstStage(testing_support::StartProcess(launcherPath, {L"--uninstall"}));
      ASSERT_TRUE(firstStage.Valid());
      HWND dialog = firstStage.Dialog(IsConfirmation);
      ASSERT_NE(dialog, nullptr);
      PressButton(dialog, kRemoveButtonId);
      EXPECT_EQ(firstStage.ExitCode(), 0u);
      copyName = L"Talvoreen-Uninstall-" + std::to_wstring(firstStage.Id()) + L".exe";
      secondId = FindProcessByName(copyName);
    }
    ASSERT_EQ(Has(L"Talvoreen Launcher.exe"), launcherLeft || std::wstring(step) == L"marker-removed");
    Launched secondStage = launcherLeft ? Launched(secondId)
                                        : Launched(testing_support::StartProcess(
                                              testing_support::LauncherExePath(), {L"--uninstall-run", dir.Path()}));
    ExpectRemovedButScreenshots(secondStage);
    ExpectRegistrationGone();
    if (!copyName.empty()) DeleteFileW(JoinPath(TempFolder(), copyName).c_str());
    DeleteTree(dir.Join(L"TALVOREEN"));
  }
}

TEST_F(UninstallStagesTest, SecondStageOnAFolderWithoutAnInstallationRemovesOnlyTheRegistration) {
  // The registration belongs to an installation elsewhere; the folder given holds none.
  TempDir elsewhere;
  ASSERT_TRUE(WriteBytes(elsewhere.Join(L"Talvoreen Launcher.exe"), "launcher"));
  ASSERT_TRUE(WriteRegistryString(kLauncherRegistryKey, kInstallDirValue, elsewhere.Path()));
  RegisterInstallation(elsewhere.Path(), true);
  ASSERT_TRUE(KeyExists(kUninstallKey));
  ASSERT_TRUE(FileExists(JoinPath(desktop, kShortcutName)));
  Put(L"notes.txt", "mine");
  Put(L"mods\\keep.lua", "mine");

  // The guard holds the worker at its first step, so that the progress dialog can be seen.
  InstallGuardStandIn();
  const std::wstring holdName = L"Local\\tvtest-guard-hold-" + std::to_wstring(GetCurrentProcessId());
  UniqueHandle hold(CreateEventW(nullptr, TRUE, FALSE, holdName.c_str()));
  SetEnvironmentVariableW(L"TV_GUARD_HOLD", holdName.c_str());
  struct Release {
    HANDLE event;
    ~Release() { SetEvent(event); }
  } release{hold.Get()};

  Launched stage(testing_support::StartProcess(testing_support::LauncherExePath(), {L"--uninstall-run", dir.Path()}));
  ASSERT_TRUE(stage.Valid());
  HWND progress = stage.Dialog(IsProgress);
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(TextOf(progress), L"Talvoreen Multiplayer");
  EXPECT_TRUE(HasText(progress, L"Talvoreen Multiplayer kaldırılıyor"));
  EXPECT_EQ(TextOf(GetDlgItem(progress, kCloseButtonId)), L"Kapat");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(progress, kCloseButtonId)));
  EXPECT_TRUE(WaitUntil([&] { return HasText(progress, L"0 dosya silindi"); }));
  // "Kapat" is refused while the worker runs.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(progress, WM_COMMAND, MAKEWPARAM(kCloseButtonId, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(progress, kCloseButtonId)), SMTO_ABORTIFHUNG, 5000, &ignored);
  EXPECT_TRUE(IsWindowVisible(progress));
  EXPECT_TRUE(DialogsOf(stage.Id()).size() == 1u);

  SetEvent(hold.Get());
  HWND box = stage.Dialog(IsMessageBox);
  ASSERT_NE(box, nullptr);
  EXPECT_FALSE(IsWindow(progress));
  EXPECT_EQ(TextOf(GetDlgItem(box, kMessageBoxTextId)), kSuccessText);
  PressButton(box, IDOK);
  EXPECT_EQ(stage.ExitCode(), 0u);

  ExpectRegistrationGone();
  EXPECT_EQ(ReadBytes(dir.Join(L"notes.txt")), "mine");
  EXPECT_EQ(ReadBytes(dir.Join(L"mods\\keep.lua")), "mine");
  EXPECT_EQ(ReadBytes(elsewhere.Join(L"Talvoreen Launcher.exe")), "launcher");
  const auto lines = Lines(ReadBytes(record));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(EqualsIgnoreCase(lines[0], installedGuard)) << Utf8FromWide(lines[0]);
  EXPECT_EQ(lines[1], L"--uninstall");
}

TEST_F(UninstallStagesTest, FileHeldByAnotherProgramIsNamedAndTheRestGoes) {
  MakeInstallation(false);
  const std::wstring held = dir.Join(L"models\\a.img");
  testing_support::FileHeldElsewhere holder(held);
  ASSERT_TRUE(holder.Holding());
  Launched stage(testing_support::StartProcess(testing_support::LauncherExePath(), {L"--uninstall-run", dir.Path()}));
  ASSERT_TRUE(stage.Valid());
  HWND box = stage.Dialog(IsMessageBox);
  ASSERT_NE(box, nullptr);
  const std::wstring text = TextOf(GetDlgItem(box, kMessageBoxTextId));
  const std::wstring head = L"Talvoreen Multiplayer kaldırıldı, ancak bazı dosyalar silinemedi:\n"
                            L"Bazı dosyalar silinemedi (" + held + L"): ";
  const std::wstring tail =
      L"\n\nAçık bir program bu dosyaları kullanıyor olabilir; kapatıp klasörü elle silebilirsin.";
  EXPECT_EQ(text.rfind(head, 0), 0u) << Utf8FromWide(text);
  ASSERT_GT(text.size(), head.size() + tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  PressButton(box, IDOK);
  EXPECT_EQ(stage.ExitCode(), 1u);
  EXPECT_TRUE(Has(L"models\\a.img"));
  for (const wchar_t* gone : {L"Talvoreen.exe", L"models\\sub", L"GTA-SA", L"Talvoreen Launcher.exe", L".talvoreen",
                              L"mods", L"TALVOREEN"}) {
    EXPECT_FALSE(Has(gone)) << Utf8FromWide(gone);
  }
}

}  // namespace
