#include "tests/support/test_support.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include "base/files.h"
#include "base/game_copies.h"
#include "base/handles.h"
#include "base/registry.h"
#include "base/text.h"

namespace testing_support {

TempDir::TempDir() {
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, base);
  static LONG counter = 0;
  for (;;) {
    std::wstring candidate = JoinPath(base, L"tvtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                                std::to_wstring(InterlockedIncrement(&counter)));
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      // Long names, as the launcher compares them: TEMP is often given in 8.3 form.
      path_ = LongPathName(NormalizePath(candidate));
      return;
    }
  }
}

TempDir::~TempDir() { RemoveTree(path_); }

std::wstring TempDir::Join(const std::wstring& relative) const { return JoinPath(path_, relative); }

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(JoinPath(path, L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = JoinPath(path, name);
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  UniqueHandle file(CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file.Valid()) return false;
  DWORD written = 0;
  return WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

UniqueHandle HoldFile(const std::wstring& path, DWORD share) {
  return UniqueHandle(CreateFileW(LongPath(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

std::wstring TestFile(const std::wstring& relative) {
  return NormalizePath(JoinPath(ParentPath(GetModulePath()), relative));
}

std::wstring SmallDisk(const char* relative) {
  const std::wstring folder = TestFile(WideFromUtf8(relative));
  ULARGE_INTEGER total{};
  if (!GetDiskFreeSpaceExW((folder + L"\\").c_str(), nullptr, &total, nullptr) || total.QuadPart > (2u << 20)) {
    return L"";
  }
  return folder;
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

std::wstring QuoteArgument(const std::wstring& arg) { return QuoteCommandArgument(arg); }

namespace {

std::wstring CommandLineOf(const std::wstring& exe, const std::vector<std::wstring>& args) {
  std::wstring line = QuoteArgument(exe);
  for (const auto& arg : args) line += L" " + QuoteArgument(arg);
  return line;
}

}  // namespace

ProcessResult RunProcess(const std::wstring& exe, const std::vector<std::wstring>& args,
                         const std::wstring& workingDir) {
  ProcessResult result;
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return result;
  UniqueHandle reader(readEnd), writer(writeEnd);
  SetHandleInformation(reader.Get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writer.Get();
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::wstring line = CommandLineOf(exe, args);
  if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                      workingDir.empty() ? nullptr : workingDir.c_str(), &si, &pi)) {
    return result;
  }
  result.started = true;
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  writer.Reset();
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(reader.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) result.output.append(buffer, read);
  WaitForSingleObject(process.Get(), INFINITE);
  GetExitCodeProcess(process.Get(), &result.exitCode);
  return result;
}

HANDLE StartProcess(const std::wstring& exe, const std::vector<std::wstring>& args) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::wstring line = CommandLineOf(exe, args);
  if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

std::wstring LauncherExePath() {
  return TestFile(L"launcher\\Talvoreen Launcher.exe");
}

ProcessResult RunLauncher(const std::vector<std::wstring>& args) {
  ProcessResult result = RunProcess(LauncherExePath(), args);
  EXPECT_TRUE(result.started) << "cannot start the launcher";
  return result;
}

std::wstring SelfExePath() { return GetModulePath(); }

ProcessResult RunChild(const std::string& role, const std::vector<std::wstring>& args) {
  std::vector<std::wstring> all = {L"--child", WideFromUtf8(role)};
  all.insert(all.end(), args.begin(), args.end());
  return RunProcess(SelfExePath(), all);
}

HANDLE StartChild(const std::string& role, const std::vector<std::wstring>& args) {
  std::vector<std::wstring> all = {L"--child", WideFromUtf8(role)};
  all.insert(all.end(), args.begin(), args.end());
  return StartProcess(SelfExePath(), all);
}

std::map<std::string, ChildRole>& ChildRoles() {
  static std::map<std::string, ChildRole> roles;
  return roles;
}

// args: the file, the name of the release event (its ready event has ".ready" appended).
TV_CHILD_ROLE(hold_file_open) {
  HANDLE file = CreateFileW(args.at(0).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (args.at(1) + L".ready").c_str());
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, args.at(1).c_str());
  if (file == INVALID_HANDLE_VALUE || !ready || !release) return 1;
  SetEvent(ready);
  WaitForSingleObject(release, INFINITE);
  CloseHandle(file);
  return 0;
}

FileHeldElsewhere::FileHeldElsewhere(const std::wstring& path) {
  static LONG counter = 0;
  const std::wstring name = L"Local\\tvtest-hold-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(InterlockedIncrement(&counter));
  release_ = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  ready_ = CreateEventW(nullptr, TRUE, FALSE, (name + L".ready").c_str());
  process_ = StartChild("hold_file_open", {path, name});
  if (!process_) return;
  HANDLE waitFor[] = {ready_, process_};
  holding_ = WaitForMultipleObjects(2, waitFor, FALSE, INFINITE) == WAIT_OBJECT_0;
}

FileHeldElsewhere::~FileHeldElsewhere() {
  SetEvent(release_);
  if (process_) {
    WaitForSingleObject(process_, INFINITE);
    CloseHandle(process_);
  }
  CloseHandle(release_);
  CloseHandle(ready_);
}

RegistryValueGuard::RegistryValueGuard(std::wstring key, std::wstring name) : key_(std::move(key)), name_(std::move(name)) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_QUERY_VALUE, &handle) == ERROR_SUCCESS) {
    existed_ = RegQueryValueExW(handle, name_.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(handle);
  }
  if (existed_) value_ = ReadRegistryString(key_, name_);
}

RegistryValueGuard::~RegistryValueGuard() {
  if (existed_) {
    WriteRegistryString(key_, name_, value_);
  } else {
    DeleteRegistryValue(key_, name_);
  }
}

}  // namespace testing_support
