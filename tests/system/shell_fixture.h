// A fixture for tests that install or uninstall: COM for the shell calls, the prefix's
// desktop and Start-menu folders, and none of what installing registers in the shell
// before or after each test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

#include "base/files.h"
#include "base/paths.h"
#include "system/shell.h"

class ShellStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    desktop = DesktopFolder();
    programs = ProgramsFolder();
    ASSERT_FALSE(desktop.empty());
    ASSERT_FALSE(programs.empty());
    CreateDirectoryTree(desktop);
    CreateDirectoryTree(programs);
    RemoveShellRegistration();
  }
  void TearDown() override {
    RemoveShellRegistration();
    CoUninitialize();
  }

  void RemoveShellRegistration() {
    for (const std::wstring& folder : {desktop, programs}) {
      for (const wchar_t* name :
           {kShortcutName, kLegacyShortcutName, L"Talvoreen Multiplayer.exe", L"Talvoreen Client.exe"}) {
        DeleteFileW(JoinPath(folder, name).c_str());
      }
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kProtocolKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
  }

  std::wstring desktop, programs;
};
