// short_path.exe <path> <script>: writes a batch script that sets TEMP and TMP to the path's
// short (8.3) form, as GetShortPathNameW gives it, for a run that hands tests TEMP the way
// Windows does for many user names. Exit code 1 when the path has no short form.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const DWORD size = GetShortPathNameW(argv[1], nullptr, 0);
  if (size == 0) return 1;
  std::vector<wchar_t> buffer(size);
  if (GetShortPathNameW(argv[1], buffer.data(), size) == 0) return 1;
  // cmd reads scripts in the console's OEM code page.
  const int bytes = WideCharToMultiByte(CP_OEMCP, 0, buffer.data(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return 1;
  std::string text(static_cast<size_t>(bytes - 1), '\0');
  WideCharToMultiByte(CP_OEMCP, 0, buffer.data(), -1, &text[0], bytes, nullptr, nullptr);
  FILE* script = _wfopen(argv[2], L"wb");
  if (!script) return 1;
  std::fprintf(script, "set \"TEMP=%s\"\r\nset \"TMP=%s\"\r\n", text.c_str(), text.c_str());
  return std::fclose(script) == 0 ? 0 : 1;
}
