#include "system/game_launch.h"

#include <windows.h>

#include <bcrypt.h>
#include <sddl.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <vector>

#include "base/files.h"
#include "base/format.h"
#include "base/game_copies.h"
#include "base/handles.h"
#include "base/text.h"
#include "base/version.h"
#include "manifest/hashing.h"
#include "manifest/rules.h"

int FindFreeGameInstance() {
  for (int copy = 1; copy <= kGameCopyLimit; ++copy) {
    if (!IsGameInstanceRunning(copy)) return copy;
  }
  return 0;
}

int CountRunningGameInstances() {
  int running = 0;
  for (int copy = 1; copy <= kGameCopyLimit; ++copy) {
    if (IsGameInstanceRunning(copy)) ++running;
  }
  return running;
}

namespace {

constexpr const wchar_t* kPermissionFailureText = L"Oyun başlatma izni oluşturulamadı";

std::wstring PermissionFailureText(DWORD code) {
  return code == 0 ? std::wstring(kPermissionFailureText)
                   : WithSystemError(kPermissionFailureText, code);
}

// The permission events this process issued, one per copy; closing one withdraws it.
std::mutex g_permissionsMutex;
std::array<UniqueHandle, kGameCopyLimit + 1> g_permissions;

// The slot of the latest start, for a copy that crosses elevation; one per process, replaced
// by each start (under g_permissionsMutex).
UniqueHandle g_elevatedSlot;

// Read by elevated processes only: in an unelevated token Administrators is deny-only, so
// neither a program of the player's nor the launcher itself can open it; the launcher writes
// through the handle it was created with. The OWNER RIGHTS entry takes the implicit WRITE_DAC
// from the owner (the player), who could otherwise grant itself reading. (Wine gives every
// process Administrators.)
constexpr const wchar_t* kElevatedSlotSecurity = L"D:P(A;;GR;;;BA)(A;;GR;;;SY)(A;;RC;;;OW)";

// The player's own account as SDDL text ("S-1-5-21-..."), empty when the token cannot be read.
std::wstring OwnUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
  UniqueHandle owned(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return std::wstring();
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return std::wstring();
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

// The permission event may be waited on by the player's own processes and by Administrators:
// an elevated copy of a standard user runs as another account (the one that typed the
// password), which the default DACL (user, SYSTEM, logon session) leaves out. Nobody may
// signal it again; the launcher holds the handle it made.
std::wstring PermissionEventSecurity() {
  const std::wstring user = OwnUserSid();
  if (user.empty()) return std::wstring();
  return L"D:P(A;;GA;;;SY)(A;;0x00100000;;;BA)(A;;0x00100000;;;" + user + L")(A;;RC;;;OW)";
}

bool WriteElevatedSlot(const std::string& text) {
  void* view = MapViewOfFile(g_elevatedSlot.Get(), FILE_MAP_WRITE, 0, 0, kElevatedLaunchSlotBytes);
  if (!view) return false;
  char* bytes = static_cast<char*>(view);
  SecureZeroMemory(bytes, kElevatedLaunchSlotBytes);
  std::copy(text.begin(), text.begin() + std::min<size_t>(text.size(), kElevatedLaunchSlotBytes - 1), bytes);
  UnmapViewOfFile(view);
  return true;
}

// Best effort: the environment stays the channel of an ordinary start, so a slot that cannot
// be made only leaves an elevated copy without its permission.
void PublishForElevatedCopy(int copy, const std::string& token) {
  std::lock_guard<std::mutex> lock(g_permissionsMutex);
  g_elevatedSlot.Reset();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kElevatedSlotSecurity, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return;
  }
  SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
  UniqueHandle slot(CreateFileMappingW(INVALID_HANDLE_VALUE, &security, PAGE_READWRITE, 0, kElevatedLaunchSlotBytes,
                                       kElevatedLaunchSlotName));
  const DWORD code = GetLastError();
  LocalFree(descriptor);
  // A slot someone else holds (another launcher, or a program waiting to read tokens) never
  // gets ours.
  if (!slot.Valid() || code == ERROR_ALREADY_EXISTS) return;
  g_elevatedSlot = std::move(slot);
  WriteElevatedSlot(Utf8FromWide(DecimalText(static_cast<long long>(copy))) + " " + token);
}

void WithdrawElevatedSlot() {
  std::lock_guard<std::mutex> lock(g_permissionsMutex);
  if (g_elevatedSlot.Valid()) WriteElevatedSlot(std::string());
  g_elevatedSlot.Reset();
}

std::string TokenDigest(const std::string& token) {
  Hasher hasher(kHashSha256);
  hasher.Update(token.data(), token.size());
  return hasher.FinishHex();
}

bool NewLaunchToken(std::string& token, DWORD& code) {
  unsigned char bytes[32] = {};
  const NTSTATUS status = BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (!BCRYPT_SUCCESS(status)) {
    code = static_cast<DWORD>(status);
    return false;
  }
  token = LowerHex(bytes, sizeof(bytes));
  SecureZeroMemory(bytes, sizeof(bytes));
  return true;
}

// ShellExecuteEx leaves the reason in GetLastError; hInstApp's older codes stand in when it
// did not.
DWORD StartFailureCode(const SHELLEXECUTEINFOW& info) {
  const DWORD code = GetLastError();
  if (code != ERROR_SUCCESS) return code;
  switch (reinterpret_cast<INT_PTR>(info.hInstApp)) {
    case SE_ERR_FNF:
      return ERROR_FILE_NOT_FOUND;
    case SE_ERR_PNF:
      return ERROR_PATH_NOT_FOUND;
    case SE_ERR_ACCESSDENIED:
      return ERROR_ACCESS_DENIED;
    case SE_ERR_OOM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SE_ERR_SHARE:
      return ERROR_SHARING_VIOLATION;
    case SE_ERR_NOASSOC:
      return ERROR_NO_ASSOCIATION;
    case SE_ERR_DLLNOTFOUND:
      return ERROR_DLL_NOT_FOUND;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace

bool StartProgram(const std::wstring& exe, const std::wstring& parameters, const std::wstring& folder,
                  unsigned long& errorCode) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // No zone check: the player chose to run what the launcher starts, and the check's prompt
  // would stop a copy that a mark of the web reached.
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
  info.lpVerb = L"open";
  info.lpFile = exe.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.lpDirectory = folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  // The crash reporter turns Windows' fault box off for the launcher; a started program would
  // inherit that, and its own crashes would never reach Windows Error Reporting.
  const UINT ownMode = GetErrorMode();
  SetErrorMode(ownMode & ~SEM_NOGPFAULTERRORBOX);
  SetLastError(ERROR_SUCCESS);
  const bool started = ShellExecuteExW(&info) != FALSE;
  if (!started) errorCode = StartFailureCode(info);
  SetErrorMode(ownMode);
  return started;
}

bool IssueLaunchPermission(int copy, const std::string& token, std::wstring& error) {
  if (copy < 1 || copy > kGameCopyLimit || !IsWellFormedLaunchToken(WideFromUtf8(token))) {
    error = PermissionFailureText(ERROR_INVALID_PARAMETER);
    return false;
  }
  const std::string digest = TokenDigest(token);
  if (digest.empty()) {
    error = PermissionFailureText(0);
    return false;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const std::wstring sddl = PermissionEventSecurity();
  if (sddl.empty() ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    error = PermissionFailureText(GetLastError());
    return false;
  }
  SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
  // Auto-reset and signalled: the first client that waits on it takes the permission.
  UniqueHandle event(CreateEventW(&security, FALSE, TRUE, LaunchPermissionEventName(copy, digest).c_str()));
  const DWORD code = GetLastError();
  LocalFree(descriptor);
  if (!event.Valid()) {
    error = PermissionFailureText(code);
    return false;
  }
  // An event someone else made first could be signalled by them at will.
  if (code == ERROR_ALREADY_EXISTS) {
    error = PermissionFailureText(ERROR_ALREADY_EXISTS);
    return false;
  }
  std::lock_guard<std::mutex> lock(g_permissionsMutex);
  g_permissions[copy] = std::move(event);
  return true;
}

bool ClaimLaunchPermission(int copy, const std::wstring& token) {
  if (copy < 1 || copy > kGameCopyLimit || !IsWellFormedLaunchToken(token)) return false;
  const std::string digest = TokenDigest(Utf8FromWide(token));
  if (digest.empty()) return false;
  UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, LaunchPermissionEventName(copy, digest).c_str()));
  return event.Valid() && WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0;
}

bool ReadElevatedLaunchSlot(int& copy, std::wstring& token) {
  UniqueHandle slot(OpenFileMappingW(FILE_MAP_READ, FALSE, kElevatedLaunchSlotName));
  if (!slot.Valid()) return false;
  const void* view = MapViewOfFile(slot.Get(), FILE_MAP_READ, 0, 0, kElevatedLaunchSlotBytes);
  if (!view) return false;
  const char* bytes = static_cast<const char*>(view);
  const std::string text(bytes, std::find(bytes, bytes + kElevatedLaunchSlotBytes, '\0'));
  UnmapViewOfFile(view);
  const size_t blank = text.find(' ');
  if (blank == std::string::npos) return false;
  const std::wstring number = WideFromUtf8(text.substr(0, blank));
  copy = GameCopyFromVariable(number.c_str());
  token = WideFromUtf8(text.substr(blank + 1));
  return copy != 0 && IsWellFormedLaunchToken(token);
}

std::wstring LaunchFailureText(unsigned long code) {
  if (code == ERROR_CANCELLED) return L"Başlatma iptal edildi";
  return WithSystemError(L"Başlatılamadı", code);
}

bool LaunchGame(const std::wstring& installDir, int copy, const std::wstring& link, std::wstring& error) {
  std::string token;
  DWORD code = 0;
  if (!NewLaunchToken(token, code)) {
    error = PermissionFailureText(code);
    return false;
  }
  if (!IssueLaunchPermission(copy, token, error)) return false;

  if (copy >= 2) {
    SetEnvironmentVariableW(kGameInstanceVariable, DecimalText(static_cast<long long>(copy)).c_str());
  } else {
    SetEnvironmentVariableW(kGameInstanceVariable, nullptr);
  }
  SetEnvironmentVariableW(kLaunchPermissionVariable, WideFromUtf8(token).c_str());
  PublishForElevatedCopy(copy, token);

  const std::wstring exe = JoinPath(installDir, kGameExeName);
  // The link comes from the command line or a join link; quoting keeps it one argument.
  const std::wstring parameters = link.empty() ? std::wstring() : QuoteCommandArgument(link);
  unsigned long startCode = ERROR_SUCCESS;
  const bool started = StartProgram(exe, parameters, installDir, startCode);

  // The started copy has its environment by now; later children of the launcher must not
  // carry the token.
  SetEnvironmentVariableW(kLaunchPermissionVariable, nullptr);
  if (!started) {
    WithdrawElevatedSlot();
    std::lock_guard<std::mutex> lock(g_permissionsMutex);
    g_permissions[copy].Reset();
    error = LaunchFailureText(startCode);
    return false;
  }
  return true;
}
