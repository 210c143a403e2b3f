// Unpack throughput of GtaInstaller: the archive must already lie in
// <install>\.talvoreen\gta\talvoreen-gtasa.rar (bench/gta_unpack_bench.sh puts it there).
//   gta_unpack_bench <install folder>
#include <chrono>
#include <cstdio>

#include "base/files.h"
#include "base/text.h"
#include "gta/gta_installer.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gta_unpack_bench <install folder>\n");
    return 2;
  }
  GtaInstaller installer(NormalizePath(argv[1]), L"");
  const auto start = std::chrono::steady_clock::now();
  installer.Start(false);
  installer.Join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const GtaSnapshot s = installer.GetSnapshot();
  std::printf("GtaInstaller unpack %8.1f MB/s (%llu bytes, %u files, %.1f s) %s\n", s.extractTotal / seconds / 1e6,
              static_cast<unsigned long long>(s.extractTotal), s.filesDone, seconds,
              Utf8FromWide(GtaStatusName(s.status)).c_str());
  return s.status == kGtaDone ? 0 : 1;
}
