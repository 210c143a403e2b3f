// Game copies through their real mutexes, started as real processes: the stand-in client
// (game_stand_in.cpp) records what it was given and holds its copy's mutex until told to end.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <map>
#include <sstream>

#include "base/files.h"
#include "base/format.h"
#include "base/game_copies.h"
#include "base/handles.h"
#include "base/text.h"
#include "manifest/hashing.h"
#include "system/game_launch.h"
#include "tests/system/game_copies_harness.h"
#include "tests/support/test_support.h"
#include "tests/system/game_stand_in.h"

using testing_support::LauncherExePath;
using testing_support::QuoteArgument;
using testing_support::ReadBytes;
using testing_support::TempDir;

namespace {

constexpr DWORD kWaitLimit = 60000;  // only ever reached when something is broken

// Starts the stand-in the way another program could, with chosen variables (null = absent).
DWORD RunStandInDirectly(const GameFolder& folder, const wchar_t* instance, const wchar_t* token,
                         const StandInEvents* events = nullptr, int copy = 0) {
  SetEnvironmentVariableW(kGameInstanceVariable, instance);
  SetEnvironmentVariableW(kLaunchPermissionVariable, token);
  HANDLE process = testing_support::StartProcess(folder.Exe(), {});
  SetEnvironmentVariableW(kGameInstanceVariable, nullptr);
  SetEnvironmentVariableW(kLaunchPermissionVariable, nullptr);
  if (process == nullptr) return 999;
  UniqueHandle owner(process);
  if (events != nullptr) {
    // Permitted: it runs until asked to end.
    if (!events->WaitReady()) return 998;
    events->Close(folder.ReadRecord(copy));
  }
  if (WaitForSingleObject(process, kWaitLimit) != WAIT_OBJECT_0) return 997;
  DWORD code = 996;
  GetExitCodeProcess(process, &code);
  return code;
}

std::string Sha256Hex(const std::string& text) {
  Hasher hasher(kHashSha256);
  hasher.Update(text.data(), text.size());
  return hasher.FinishHex();
}

TEST(RunningCopies, SeenThroughTheirMutexes) {
  EXPECT_EQ(CountRunningGameInstances(), 0);
  EXPECT_EQ(FindFreeGameInstance(), 1);
  {
    HeldCopies held({1, 3});
    EXPECT_TRUE(IsGameInstanceRunning(1));
    EXPECT_FALSE(IsGameInstanceRunning(2));
    EXPECT_TRUE(IsGameInstanceRunning(3));
    EXPECT_EQ(FindFreeGameInstance(), 2);
    EXPECT_EQ(CountRunningGameInstances(), 2);
    // Copy 0 would share copy 1's name; numbers outside 1..16 never run.
    EXPECT_FALSE(IsGameInstanceRunning(0));
    EXPECT_FALSE(IsGameInstanceRunning(17));
  }
  EXPECT_FALSE(IsGameInstanceRunning(1));
  HeldCopies all({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  EXPECT_EQ(FindFreeGameInstance(), 0);
  EXPECT_EQ(CountRunningGameInstances(), 16);
}

TEST(RunningCopies, AMutexThatCannotBeOpenedStillCounts) {
  // Owned by and open only to SYSTEM: what a normal process meets at an elevated copy's mutex.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:(A;;GA;;;SY)", SDDL_REVISION_1, &descriptor,
                                                                   nullptr));
  SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
  HeldCopies lower({1, 2}), denied({3}, &security);
  LocalFree(descriptor);

  UniqueHandle probe(OpenMutexW(SYNCHRONIZE, FALSE, GameInstanceMutexName(3).c_str()));
  ASSERT_FALSE(probe.Valid());
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(IsGameInstanceRunning(3));
  EXPECT_EQ(FindFreeGameInstance(), 4);
  EXPECT_EQ(CountRunningGameInstances(), 3);
}

TEST(LaunchGame, StartsTheCopyWithItsNumberLinkAndFolder) {
  GameFolder folder;
  Record second;
  {
    HeldCopies held({1, 3});
    const int copy = FindFreeGameInstance();
    ASSERT_EQ(copy, 2);
    StandInEvents events(copy);
    std::wstring error;
    // The launcher's crash reporter keeps Windows' fault box away from itself, not from the
    // game, whose own crashes must still reach Windows (Wine passes no error mode on at all).
    const UINT ownMode = GetErrorMode();
    SetErrorMode(ownMode | SEM_NOGPFAULTERRORBOX);
    const bool launched = LaunchGame(folder.Path(), copy, L"mtasa://127.0.0.1:22003", error);
    EXPECT_EQ(GetErrorMode(), ownMode | SEM_NOGPFAULTERRORBOX);
    SetErrorMode(ownMode);
    ASSERT_TRUE(launched) << Utf8FromWide(error);
    ASSERT_TRUE(events.WaitReady());
    second = folder.ReadRecord(2);
    EXPECT_EQ(std::stoul(second["errorMode"]) & SEM_NOGPFAULTERRORBOX, 0u);
    EXPECT_EQ(second["instance"], "2");
    EXPECT_EQ(second["argc"], "2");
    EXPECT_EQ(second["arg1"], "mtasa://127.0.0.1:22003");
    EXPECT_TRUE(EqualsIgnoreCase(WideFromUtf8(second["cwd"]), folder.Path())) << second["cwd"];
    EXPECT_EQ(second["permission"], "accepted");
    EXPECT_EQ(second["mutex"], "held");
    EXPECT_TRUE(IsGameInstanceRunning(2));
    EXPECT_EQ(CountRunningGameInstances(), 3);
    // The token stays with the started copy only.
    EXPECT_EQ(GetEnvironmentVariableW(kLaunchPermissionVariable, nullptr, 0), 0u);
    ASSERT_TRUE(events.Close(second));
    EXPECT_FALSE(IsGameInstanceRunning(2));
  }

  // Copy 1 after copy 2: the variable is gone again, and no link means no argument.
  StandInEvents events(1);
  std::wstring error;
  ASSERT_TRUE(LaunchGame(folder.Path(), 1, L"", error)) << Utf8FromWide(error);
  ASSERT_TRUE(events.WaitReady());
  Record first = folder.ReadRecord(1);
  EXPECT_EQ(first["instance"], "(none)");
  EXPECT_EQ(first["argc"], "1");
  EXPECT_EQ(first["permission"], "accepted");
  EXPECT_NE(first["token"], second["token"]);
  ASSERT_TRUE(events.Close(first));

  // The second copy's token, replayed by another program while this launcher still runs.
  const std::wstring used = WideFromUtf8(second["token"]);
  EXPECT_EQ(RunStandInDirectly(folder, L"2", used.c_str()), kStandInRefused);
  EXPECT_EQ(folder.ReadRecord(2)["permission"], "refused");
}

bool HoldsAdministrators() {
  BYTE sid[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof(sid);
  BOOL member = FALSE;
  return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
         CheckTokenMembership(nullptr, sid, &member) && member;
}

bool RunningUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// This process's token, or one like it of another account: the user and logon session turned
// into deny-only entries, groups kept, as an over-the-shoulder elevation's token looks.
UniqueHandle TestToken(bool anotherAccount) {
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) return UniqueHandle();
  UniqueHandle ownToken(own);
  HANDLE result = nullptr;
  if (!anotherAccount) {
    DuplicateTokenEx(own, TOKEN_QUERY, nullptr, SecurityImpersonation, TokenImpersonation, &result);
    return UniqueHandle(result);
  }
  DWORD size = 0;
  GetTokenInformation(own, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  GetTokenInformation(own, TokenGroups, nullptr, 0, &size);
  std::vector<unsigned char> groups(size);
  if (!GetTokenInformation(own, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size) ||
      !GetTokenInformation(own, TokenGroups, groups.data(), static_cast<DWORD>(groups.size()), &size)) {
    return UniqueHandle();
  }
  std::vector<SID_AND_ATTRIBUTES> disabled = {{reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, 0}};
  const auto* list = reinterpret_cast<TOKEN_GROUPS*>(groups.data());
  for (DWORD i = 0; i < list->GroupCount; ++i) {
    if (list->Groups[i].Attributes & SE_GROUP_LOGON_ID) disabled.push_back({list->Groups[i].Sid, 0});
  }
  HANDLE restricted = nullptr;
  if (!CreateRestrictedToken(own, 0, static_cast<DWORD>(disabled.size()), disabled.data(), 0, nullptr, 0, nullptr,
                             &restricted)) {
    return UniqueHandle();
  }
  UniqueHandle restrictedToken(restricted);
  DuplicateTokenEx(restricted, TOKEN_QUERY, nullptr, SecurityImpersonation, TokenImpersonation, &result);
  return UniqueHandle(result);
}

// The rights of desired that the token gets on the object, as Windows decides from its DACL.
DWORD Granted(HANDLE object, HANDLE token, DWORD desired) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT,
                      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                      nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return 0xFFFFFFFF;
  }
  GENERIC_MAPPING mapping{STANDARD_RIGHTS_READ | 1, STANDARD_RIGHTS_WRITE | 2, STANDARD_RIGHTS_EXECUTE, 0x1F0003};
  PRIVILEGE_SET privileges{};
  DWORD length = sizeof(privileges), granted = 0;
  BOOL allowed = FALSE;
  if (!AccessCheck(descriptor, token, desired, &mapping, &privileges, &length, &granted, &allowed) || !allowed) {
    granted = 0;
  }
  LocalFree(descriptor);
  return granted;
}

// An elevated copy of a standard user runs as the account that typed the password; being in
// Administrators it may wait on the permission. Nobody may signal it again nor rewrite its DACL.
TEST(LaunchPermission, AnotherAdministratorMayWaitAndNobodySignalsItAgain) {
  if (!HoldsAdministrators()) GTEST_SKIP() << "another administrator's token needs Administrators enabled here";
  const UniqueHandle player = TestToken(false), other = TestToken(true);
  ASSERT_TRUE(player.Valid() && other.Valid());
  const std::string token = "0f1e2d3c4b5a69788796a5b4c3d2e1f00f1e2d3c4b5a69788796a5b4c3d2e1f0";
  std::wstring error;
  ASSERT_TRUE(IssueLaunchPermission(5, token, error)) << Utf8FromWide(error);
  UniqueHandle event(OpenEventW(READ_CONTROL, FALSE, LaunchPermissionEventName(5, Sha256Hex(token)).c_str()));
  ASSERT_TRUE(event.Valid());
  EXPECT_EQ(Granted(event.Get(), player.Get(), SYNCHRONIZE), static_cast<DWORD>(SYNCHRONIZE));
  EXPECT_EQ(Granted(event.Get(), other.Get(), SYNCHRONIZE), static_cast<DWORD>(SYNCHRONIZE));
  EXPECT_EQ(Granted(event.Get(), player.Get(), EVENT_MODIFY_STATE), 0u);
  // Wine's AccessCheck gives an owner WRITE_DAC whatever OWNER RIGHTS says.
  if (!RunningUnderWine()) EXPECT_EQ(Granted(event.Get(), player.Get(), WRITE_DAC), 0u);
}

// A copy started elevated gets none of the launcher's environment; it finds its copy number
// and permission in the slot, once. Only an elevated process may read the slot: under Wine
// every process may; on Windows this runs elevated or not at all.
TEST(LaunchGame, ACopyWithoutTheLaunchersEnvironmentFindsItsPermissionInTheSlot) {
  if (!HoldsAdministrators()) GTEST_SKIP() << "the slot is for elevated processes only";
  GameFolder folder;
  HeldCopies held({1});
  StandInEvents events(2);
  std::wstring error;
  SetEnvironmentVariableW(kStandInElevatedVariable, L"1");
  const bool launched = LaunchGame(folder.Path(), 2, L"", error);
  SetEnvironmentVariableW(kStandInElevatedVariable, nullptr);
  ASSERT_TRUE(launched) << Utf8FromWide(error);
  ASSERT_TRUE(events.WaitReady());
  if (!RunningUnderWine()) {
    // Its owner, this account, keeps no implicit WRITE_DAC with which to grant itself more
    // (Wine's AccessCheck ignores OWNER RIGHTS, so only Windows can show it).
    UniqueHandle slot(OpenFileMappingW(READ_CONTROL, FALSE, kElevatedLaunchSlotName));
    ASSERT_TRUE(slot.Valid());
    EXPECT_EQ(Granted(slot.Get(), TestToken(false).Get(), WRITE_DAC), 0u);
  }
  Record record = folder.ReadRecord(2);
  EXPECT_EQ(record["instance"], "(none)");
  EXPECT_EQ(record["channel"], "slot");
  EXPECT_EQ(record["permission"], "accepted");
  EXPECT_EQ(record["mutex"], "held");
  ASSERT_TRUE(events.Close(record));

  // The slot still names it, but the permission is used up.
  SetEnvironmentVariableW(kStandInElevatedVariable, L"1");
  EXPECT_EQ(RunStandInDirectly(folder, nullptr, nullptr), kStandInRefused);
  SetEnvironmentVariableW(kStandInElevatedVariable, nullptr);
  EXPECT_EQ(folder.ReadRecord(2)["token"], record["token"]);

  // A failed start withdraws it.
  TempDir empty;
  EXPECT_FALSE(LaunchGame(empty.Path(), 3, L"", error));
  EXPECT_FALSE(UniqueHandle(OpenFileMappingW(FILE_MAP_READ, FALSE, kElevatedLaunchSlotName)).Valid());

  // A slot somebody else made first never receives a token; the environment still carries it.
  UniqueHandle planted(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kElevatedLaunchSlotBytes,
                                          kElevatedLaunchSlotName));
  ASSERT_TRUE(planted.Valid());
  StandInEvents third(3);
  ASSERT_TRUE(LaunchGame(folder.Path(), 3, L"", error)) << Utf8FromWide(error);
  ASSERT_TRUE(third.WaitReady());
  Record next = folder.ReadRecord(3);
  EXPECT_EQ(next["channel"], "environment");
  EXPECT_EQ(next["permission"], "accepted");
  const char* view = static_cast<const char*>(MapViewOfFile(planted.Get(), FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::string(view, kElevatedLaunchSlotBytes).find(next["token"]), std::string::npos);
  UnmapViewOfFile(view);
  ASSERT_TRUE(third.Close(next));
}

TEST(LaunchGame, ALinkWithBlanksAndQuotesStaysOneArgument) {
  GameFolder folder;
  StandInEvents events(1);
  const std::wstring link = L"mtasa://bad host:22003 \"--x\\\" y\\";
  std::wstring error;
  ASSERT_TRUE(LaunchGame(folder.Path(), 1, link, error)) << Utf8FromWide(error);
  ASSERT_TRUE(events.WaitReady());
  Record record = folder.ReadRecord(1);
  EXPECT_EQ(record["argc"], "2");
  EXPECT_EQ(record["arg1"], Utf8FromWide(link));
  ASSERT_TRUE(events.Close(record));
}

TEST(LaunchGame, AMissingClientIsReported) {
  TempDir empty;
  std::wstring error;
  EXPECT_FALSE(LaunchGame(empty.Path(), 1, L"", error));
  EXPECT_EQ(error, L"Başlatılamadı: " + WindowsErrorText(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetEnvironmentVariableW(kLaunchPermissionVariable, nullptr, 0), 0u);
  EXPECT_EQ(LaunchFailureText(ERROR_CANCELLED), L"Başlatma iptal edildi");
}

TEST(LaunchPermission, AcceptedOnceForItsCopyOnly) {
  GameFolder folder;
  const std::string token = "5e1f0c3a9d2b47f68a0e3c1d2b4f6a8c0e2d4f6b8a1c3e5f7092b4d6f8a0c2e4";
  const std::wstring wideToken = WideFromUtf8(token);
  std::wstring error;
  ASSERT_TRUE(IssueLaunchPermission(2, token, error)) << Utf8FromWide(error);

  EXPECT_EQ(RunStandInDirectly(folder, L"3", wideToken.c_str()), kStandInRefused);
  EXPECT_EQ(RunStandInDirectly(folder, nullptr, wideToken.c_str()), kStandInRefused);
  const std::wstring forged = L"5e1f0c3a9d2b47f68a0e3c1d2b4f6a8c0e2d4f6b8a1c3e5f7092b4d6f8a0c2e5";
  EXPECT_EQ(RunStandInDirectly(folder, L"2", forged.c_str()), kStandInRefused);
  std::wstring upper = wideToken;
  for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
  EXPECT_EQ(RunStandInDirectly(folder, L"2", upper.c_str()), kStandInRefused);
  EXPECT_EQ(RunStandInDirectly(folder, L"2", nullptr), kStandInRefused);

  // None of the refused tries used it up.
  StandInEvents events(2);
  EXPECT_EQ(RunStandInDirectly(folder, L"2", wideToken.c_str(), &events, 2), kStandInClosed);
  EXPECT_EQ(folder.ReadRecord(2)["permission"], "accepted");
  EXPECT_EQ(RunStandInDirectly(folder, L"2", wideToken.c_str()), kStandInRefused);
}

TEST(LaunchPermission, ANameTakenBeforehandIsNotTrusted) {
  const std::string token = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
  UniqueHandle planted(CreateEventW(nullptr, FALSE, TRUE, LaunchPermissionEventName(4, Sha256Hex(token)).c_str()));
  ASSERT_TRUE(planted.Valid());
  std::wstring error;
  EXPECT_FALSE(IssueLaunchPermission(4, token, error));
  EXPECT_EQ(error, L"Oyun başlatma izni oluşturulamadı: " + WindowsErrorText(ERROR_ALREADY_EXISTS));
}

// The launcher with standard output in a file; the caller owns the process handle.
class LauncherRun {
 public:
  explicit LauncherRun(const std::vector<std::wstring>& args) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    UniqueHandle out(CreateFileW(output_.Join(L"out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out.Get();
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring line = QuoteArgument(LauncherExePath());
    for (const auto& arg : args) line += L" " + QuoteArgument(arg);
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(LauncherExePath().c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
      CloseHandle(pi.hThread);
      process_.Reset(pi.hProcess);
    }
  }
  bool Started() const { return process_.Valid(); }
  HANDLE Process() const { return process_.Get(); }
  // Waits for the end; the exit code, or 999 when it did not end.
  DWORD Finish() const {
    DWORD code = 999;
    if (WaitForSingleObject(process_.Get(), kWaitLimit + 30000) == WAIT_OBJECT_0)
      GetExitCodeProcess(process_.Get(), &code);
    return code;
  }
  std::string Output() const { return ReadBytes(output_.Join(L"out.txt")); }

 private:
  TempDir output_;
  UniqueHandle process_;
};

TEST(PlayJob, StartsTheNextCopyAndWaitsUntilItCloses) {
  GameFolder folder;
  HeldCopies held({1});
  StandInEvents events(2);
  LauncherRun run({L"--headless", L"play", L"--dir", folder.Path() + L"\\", L"--connect", L"127.0.0.1:22003"});
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(events.WaitReady());
  Record record = folder.ReadRecord(2);
  EXPECT_EQ(record["instance"], "2");
  EXPECT_EQ(record["arg1"], "mtasa://127.0.0.1:22003");
  EXPECT_TRUE(EqualsIgnoreCase(WideFromUtf8(record["cwd"]), folder.Path())) << record["cwd"];
  EXPECT_EQ(record["permission"], "accepted");
  // While the copy runs the job keeps waiting (this also gives it time to see the copy).
  EXPECT_EQ(WaitForSingleObject(run.Process(), 3000), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(events.Close(record));
  EXPECT_EQ(run.Finish(), 0u);
  EXPECT_EQ(run.Output(), "started " + Utf8FromWide(folder.Exe()) + " as game copy 2\ngame closed\n");
}

TEST(PlayJob, SixteenRunningCopiesStartNothing) {
  GameFolder folder;
  HeldCopies all({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  LauncherRun run({L"--headless", L"play", L"--dir", folder.Path()});
  ASSERT_TRUE(run.Started());
  EXPECT_EQ(run.Finish(), 1u);
  EXPECT_EQ(run.Output(), "play failed: too many game copies are running\n");
  EXPECT_FALSE(FileExists(folder.RecordPath(1)));
}

TEST(PlayJob, AMissingClientIsReported) {
  TempDir empty;
  LauncherRun run({L"--headless", L"play", L"--dir", empty.Path()});
  ASSERT_TRUE(run.Started());
  EXPECT_EQ(run.Finish(), 1u);
  EXPECT_EQ(run.Output(), "play failed: " + Utf8FromWide(LaunchFailureText(ERROR_FILE_NOT_FOUND)) + "\n");
}

}  // namespace
