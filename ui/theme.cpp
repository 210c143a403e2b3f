#include "ui/theme.h"

#include <algorithm>

Color Mix(Color from, Color to, float t) {
  t = std::clamp(t, 0.0f, 1.0f);
  return Color{from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t,
               from.a + (to.a - from.a) * t};
}

namespace theme {
namespace {

constexpr TextStyle kStyles[kTextStyleCount] = {
    {FontFamilyKind::Display, 600, 15, 3.6f, false},  {FontFamilyKind::Condensed, 700, 92, 3.0f, false},
    {FontFamilyKind::Display, 600, 26, 0.2f, false},  {FontFamilyKind::Display, 600, 12, 2.4f, false},
    {FontFamilyKind::Display, 600, 19, 0.2f, false},  {FontFamilyKind::Display, 700, 18, 3.0f, false},
    {FontFamilyKind::Body, 400, 15, 0.0f, false},     {FontFamilyKind::Body, 600, 15, 0.0f, false},
    {FontFamilyKind::Body, 400, 13, 0.0f, true},      {FontFamilyKind::Display, 600, 44, 0.0f, true},
};

}  // namespace

const TextStyle& GetTextStyle(int style) {
  if (style < 0 || style >= kTextStyleCount) style = 6;
  return kStyles[style];
}

FontFamilies ChooseFontFamilies(const std::function<bool(const std::wstring&)>& installed,
                                const std::wstring& messageFont, const std::wstring& anyInstalled) {
  FontFamilies f;
  const bool bahnschrift = installed(L"Bahnschrift");
  f.display = bahnschrift ? L"Bahnschrift" : L"Segoe UI";
  f.condensed = bahnschrift && installed(L"Bahnschrift Condensed") ? L"Bahnschrift Condensed" : f.display;
  f.body = installed(L"Segoe UI Variable Text") ? L"Segoe UI Variable Text" : L"Segoe UI";

  auto existing = [&](const std::wstring& family) -> std::wstring {
    if (installed(family)) return family;
    for (const wchar_t* candidate : {messageFont.c_str(), L"Tahoma", L"Arial", L"DejaVu Sans", L"Liberation Sans"}) {
      if (*candidate && installed(candidate)) return candidate;
    }
    return anyInstalled.empty() ? family : anyInstalled;
  };
  f.display = existing(f.display);
  f.condensed = existing(f.condensed);
  f.body = existing(f.body);
  return f;
}

namespace {

bool IsCombiningMark(wchar_t c) {
  return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF) ||
         (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE20 && c <= 0xFE2F);
}

bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::vector<std::wstring> SplitGraphemes(const std::wstring& text) {
  std::vector<std::wstring> graphemes;
  for (wchar_t c : text) {
    const bool continues = !graphemes.empty() && (IsCombiningMark(c) || (sizeof(wchar_t) == 2 && IsLowSurrogate(c)));
    if (continues) {
      graphemes.back().push_back(c);
    } else {
      graphemes.emplace_back(1, c);
    }
  }
  return graphemes;
}

bool SetLetterByLetter(float letterSpacing, size_t clusters, size_t graphemes) {
  return letterSpacing != 0 && clusters > 0 && graphemes > 1 && clusters < graphemes;
}

float SpacedTextWidth(const std::wstring& text, float letterSpacing, const WholeTextMeasure& measureWhole) {
  float width = 0;
  size_t clusters = 0;
  if (text.empty() || !measureWhole(text, width, clusters)) return 0;
  const std::vector<std::wstring> letters = SplitGraphemes(text);
  if (!SetLetterByLetter(letterSpacing, clusters, letters.size())) return width;
  float total = letterSpacing * static_cast<float>(letters.size() - 1);
  for (const std::wstring& letter : letters) {
    float letterWidth = 0;
    size_t letterClusters = 0;
    if (measureWhole(letter, letterWidth, letterClusters)) total += letterWidth;
  }
  return total;
}

float LetterSpacingShift(int style, TextAlign align) {
  const float spacing = GetTextStyle(style).letterSpacing;
  switch (align) {
    case TextAlign::Center: return spacing / 2;
    case TextAlign::Trailing: return spacing;
    default: return 0;
  }
}

}  // namespace theme
