// Stands in for the game client: checks the launch permission the way the client does, holds
// its copy's instance mutex, records what it was started with beside itself, and ends when
// its copy's exit event is set.
#include "tests/system/game_stand_in.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "base/files.h"
#include "base/game_copies.h"
#include "system/game_launch.h"

namespace {

std::wstring Variable(const wchar_t* name, bool& present) {
  wchar_t buffer[1024] = {};
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
  present = length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  return length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

void Line(std::wstring& record, const wchar_t* key, const std::wstring& value) {
  record += key;
  record += L"=";
  record += value;
  record += L"\n";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  bool elevated = false, instanceSet = false, tokenSet = false;
  Variable(kStandInElevatedVariable, elevated);
  std::wstring instance, token;
  if (!elevated) {
    instance = Variable(kGameInstanceVariable, instanceSet);
    token = Variable(kLaunchPermissionVariable, tokenSet);
  }
  int copy = GameCopyFromVariable(instanceSet ? instance.c_str() : nullptr);
  // The client's rule: no token in the environment means a start across elevation, whose copy
  // number and token are in the slot.
  int slotCopy = 0;
  std::wstring slotToken;
  if (!tokenSet && ReadElevatedLaunchSlot(slotCopy, slotToken)) {
    copy = slotCopy;
    token = slotToken;
  }
  const bool permitted = copy != 0 && ClaimLaunchPermission(copy, token);

  std::wstring record;
  Line(record, L"pid", DecimalText(static_cast<long long>(GetCurrentProcessId())));
  Line(record, L"instance", instanceSet ? instance : L"(none)");
  Line(record, L"channel", tokenSet ? L"environment" : L"slot");
  Line(record, L"copy", DecimalText(static_cast<long long>(copy)));
  Line(record, L"token", token);
  Line(record, L"permission", permitted ? L"accepted" : L"refused");
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  Line(record, L"commandLine", GetCommandLineW());
  Line(record, L"argc", DecimalText(static_cast<long long>(argc)));
  for (int i = 1; argv != nullptr && i < argc; ++i)
    Line(record, (L"arg" + DecimalText(static_cast<long long>(i))).c_str(), argv[i]);
  LocalFree(argv);
  wchar_t folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  Line(record, L"cwd", folder);
  Line(record, L"errorMode", DecimalText(static_cast<long long>(GetErrorMode())));

  HANDLE mutex = nullptr;
  bool alreadyRunning = false;
  if (permitted) {
    mutex = CreateMutexW(nullptr, TRUE, GameInstanceMutexName(copy).c_str());
    alreadyRunning = mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS;
    Line(record, L"mutex", alreadyRunning ? L"taken" : L"held");
  }
  WriteFileAtomic(JoinPath(ParentPath(GetModulePath()), StandInRecordName(copy)), Utf8FromWide(record));
  if (!permitted || alreadyRunning) {
    HANDLE refused = CreateEventW(nullptr, TRUE, FALSE, kStandInRefusedEvent);
    SetEvent(refused);
    CloseHandle(refused);
    return permitted ? kStandInAlreadyRunning : kStandInRefused;
  }

  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, StandInEventName(copy, L"ready").c_str());
  HANDLE exit = CreateEventW(nullptr, TRUE, FALSE, StandInEventName(copy, L"exit").c_str());
  SetEvent(ready);
  // The limit only keeps a forgotten stand-in from staying for good when a test fails.
  WaitForSingleObject(exit, 120000);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  CloseHandle(ready);
  CloseHandle(exit);
  return kStandInClosed;
}
