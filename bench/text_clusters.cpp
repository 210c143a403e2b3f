// DirectWrite's clusters of capitals with and without Turkish letters, on DirectWrite alone:
// one text format, one layout per text, GetClusterMetrics. Letter spacing
// (IDWriteTextLayout1::SetCharacterSpacing) is added once per cluster, so a text whose
// precomposed İ, Ü, Ö, Ş, Ğ or Ç shares a cluster with the letter before it is spaced unevenly.
// On Windows every letter here is a cluster of its own.
//   text_clusters [family] [weight]   (default "DejaVu Sans" 600)
#include <windows.h>
#include <dwrite.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv) {
  const wchar_t* family = argc > 1 ? argv[1] : L"DejaVu Sans";
  const int weight = argc > 2 ? _wtoi(argv[2]) : 600;
  IDWriteFactory* factory = nullptr;
  IDWriteTextFormat* format = nullptr;
  if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                 reinterpret_cast<IUnknown**>(&factory))) ||
      FAILED(factory->CreateTextFormat(family, nullptr, static_cast<DWRITE_FONT_WEIGHT>(weight),
                                       DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, 15, L"tr-TR", &format))) {
    std::fprintf(stderr, "DirectWrite start-up failed\n");
    return 1;
  }
  std::printf("%ls %d, 15 DIP\n", family, weight);
  for (const wchar_t* text : {L"MERIDIAN", L"MER\u0130D\u0130AN", L"SURUMU", L"S\u00dcR\u00dcM\u00dc", L"KLASORU",
                              L"KLAS\u00d6R\u00dc", L"SGC", L"\u015e\u011e\u00c7"}) {
    IDWriteTextLayout* layout = nullptr;
    const UINT32 length = static_cast<UINT32>(std::wstring(text).size());
    if (FAILED(factory->CreateTextLayout(text, length, format, 1000, 100, &layout))) return 1;
    DWRITE_CLUSTER_METRICS clusters[32];
    UINT32 count = 0;
    layout->GetClusterMetrics(clusters, 32, &count);
    std::printf("%u letters, %2u clusters:", length, count);
    for (UINT32 i = 0; i < count; ++i) std::printf(" %u:%.2f", clusters[i].length, clusters[i].width);
    std::printf("\n");
    layout->Release();
  }
  format->Release();
  factory->Release();
  return 0;
}
