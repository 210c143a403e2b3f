// short_path.exe <path>: prints the path's short (8.3) form, as GetShortPathNameW gives it, for
// scripts that hand tests a TEMP folder the way Windows does for many user names.
#include <windows.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const DWORD size = GetShortPathNameW(argv[1], nullptr, 0);
  if (size == 0) return 1;
  std::vector<wchar_t> buffer(size);
  if (GetShortPathNameW(argv[1], buffer.data(), size) == 0) return 1;
  // The console's code page is the one cmd reads back with for /f.
  const int bytes = WideCharToMultiByte(GetConsoleOutputCP(), 0, buffer.data(), -1, nullptr, 0, nullptr, nullptr);
  std::vector<char> text(bytes > 0 ? bytes : 1);
  WideCharToMultiByte(GetConsoleOutputCP(), 0, buffer.data(), -1, text.data(), bytes, nullptr, nullptr);
  std::printf("%s\n", text.data());
  return 0;
}
