// Test entry point: "--child <role> args..." runs a registered child role instead of the tests,
// so that tests can start real processes of their own.
#include <windows.h>

#include <gtest/gtest.h>
#include <shellapi.h>

#include "base/text.h"
#include "tests/support/test_support.h"

int main(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide && count >= 3 && std::wstring(wide[1]) == L"--child") {
    const std::string role = Utf8FromWide(wide[2]);
    std::vector<std::wstring> args(wide + 3, wide + count);
    LocalFree(wide);
    auto& roles = testing_support::ChildRoles();
    auto it = roles.find(role);
    return it == roles.end() ? 99 : it->second(args);
  }
  if (wide) LocalFree(wide);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
