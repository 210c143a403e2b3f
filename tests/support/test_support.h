// Helpers for the Windows tests: temporary folders, child processes, the launcher under test.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/handles.h"

namespace testing_support {

// A fresh folder under %TEMP%, removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& Path() const { return path_; }
  std::wstring Join(const std::wstring& relative) const;

 private:
  std::wstring path_;
};

void RemoveTree(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
// Opens an existing file as another program holding it does: without sharing, or sharing
// only what share allows. Invalid when it could not be opened.
UniqueHandle HoldFile(const std::wstring& path, DWORD share = 0);

// A fixture beside the running test program (relative to its folder): the build puts every
// program and fixture in one folder tree and the test bundle copies that tree as it is, so
// tests find their files the same way in both and never through a path of the build machine.
std::wstring TestFile(const std::wstring& relative);

// The folder `relative` (beside the test program) when it is the 1 MiB disk that
// tests/sync/small_disk.sh mounts before the tests that fill a disk; empty where mounting was
// impossible or the folder is absent, as in the test bundle.
std::wstring SmallDisk(const char* relative);

struct ProcessResult {
  bool started = false;
  DWORD exitCode = 0;
  std::string output;  // standard output, as bytes
};

// Runs a program with standard output captured; waits for it to end.
ProcessResult RunProcess(const std::wstring& exe, const std::vector<std::wstring>& args,
                         const std::wstring& workingDir = L"");

// Starts a program and returns its process handle without waiting (caller closes it).
HANDLE StartProcess(const std::wstring& exe, const std::vector<std::wstring>& args);

std::wstring QuoteArgument(const std::wstring& arg);

// The launcher built from this tree, copied beside the tests as "launcher\Talvoreen Launcher.exe".
std::wstring LauncherExePath();

// RunProcess of that launcher; a launcher that does not start fails the test.
ProcessResult RunLauncher(const std::vector<std::wstring>& args);

// The running test executable; with RunChild it runs one of the roles below in a new process.
std::wstring SelfExePath();
ProcessResult RunChild(const std::string& role, const std::vector<std::wstring>& args);
HANDLE StartChild(const std::string& role, const std::vector<std::wstring>& args);

// Code a test runs in a child process of its own: `TV_CHILD_ROLE(name) { ...; return code; }`.
using ChildRole = std::function<int(const std::vector<std::wstring>& args)>;
std::map<std::string, ChildRole>& ChildRoles();
struct ChildRoleRegistrar {
  ChildRoleRegistrar(const char* name, ChildRole role) { ChildRoles()[name] = std::move(role); }
};

// Another process holds the file open without any sharing for the life of this object.
class FileHeldElsewhere {
 public:
  explicit FileHeldElsewhere(const std::wstring& path);
  ~FileHeldElsewhere();  // releases the file and waits for the process to end
  FileHeldElsewhere(const FileHeldElsewhere&) = delete;
  FileHeldElsewhere& operator=(const FileHeldElsewhere&) = delete;
  bool Holding() const { return holding_; }

 private:
  HANDLE release_ = nullptr;
  HANDLE ready_ = nullptr;
  HANDLE process_ = nullptr;
  bool holding_ = false;
};

// Saves a registry value of HKEY_CURRENT_USER and puts it back at the end of the scope.
class RegistryValueGuard {
 public:
  RegistryValueGuard(std::wstring key, std::wstring name);
  ~RegistryValueGuard();

 private:
  std::wstring key_, name_, value_;
  bool existed_ = false;
};

}  // namespace testing_support

#define TV_CHILD_ROLE(name)                                                                        \
  static int TvChildRole_##name(const std::vector<std::wstring>& args);                            \
  static ::testing_support::ChildRoleRegistrar tv_child_role_registrar_##name(#name, TvChildRole_##name); \
  static int TvChildRole_##name(const std::vector<std::wstring>& args)
