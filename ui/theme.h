// The launcher's palette, text styles and font family rules.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/canvas.h"

namespace theme {

constexpr Color kBackground = Rgb(9, 11, 18);
constexpr Color kSurface = Rgb(18, 22, 37);
constexpr Color kSurfaceRaised = Rgb(27, 32, 52);
constexpr Color kSurfaceHigh = Rgb(36, 42, 66);
constexpr Color kBorder = Rgb(166, 179, 255, 0.13f);
constexpr Color kBorderStrong = Rgb(166, 179, 255, 0.30f);
constexpr Color kText = Rgb(238, 240, 248);
constexpr Color kTextSecondary = Rgb(168, 174, 198);
constexpr Color kTextMuted = Rgb(128, 134, 159);
constexpr Color kAccent = Rgb(132, 150, 255);
constexpr Color kAccentLight = Rgb(201, 209, 255);
constexpr Color kPrimary = Rgb(76, 90, 238);
constexpr Color kPrimaryHover = Rgb(91, 105, 250);
constexpr Color kTrack = Rgb(35, 40, 66);
constexpr Color kGreen = Rgb(85, 214, 160);
constexpr Color kAmber = Rgb(242, 180, 79);
constexpr Color kRed = Rgb(255, 102, 118);
constexpr Color kCloseHover = Rgb(209, 50, 70);
constexpr Color kWhite = Rgb(255, 255, 255);

enum class FontFamilyKind { Display, Condensed, Body };

struct TextStyle {
  FontFamilyKind family;
  int weight;
  float size;           // DIPs
  float letterSpacing;  // DIPs after every character
  bool tabularFigures;
};

constexpr int kTextStyleCount = 10;
const TextStyle& GetTextStyle(int style);  // 0..9; out-of-range styles read as style 6

struct FontFamilies {
  std::wstring display, condensed, body;
};

// The named families first; a name that is not installed falls back to the message font,
// then to a common sans family, then to any installed family, because DirectWrite draws
// nothing at all for a family that does not exist.
FontFamilies ChooseFontFamilies(const std::function<bool(const std::wstring&)>& installed,
                                const std::wstring& messageFont, const std::wstring& anyInstalled);

// The text cut into what a reader sees as single letters: a character with the combining
// marks after it, or a surrogate pair. Letter spacing belongs between these.
std::vector<std::wstring> SplitGraphemes(const std::wstring& text);

// Whether spaced text is set letter by letter: only when its whole layout has fewer clusters
// than it has graphemes (Wine's DirectWrite puts a precomposed capital into the cluster of the
// letter before it, and spacing is per cluster). A layout that failed or reports no clusters,
// and a single grapheme, are set whole.
bool SetLetterByLetter(float letterSpacing, size_t clusters, size_t graphemes);

// measureWhole measures a text as one layout: its width without the spacing after the last
// character, and its cluster count; false when no layout could be made.
using WholeTextMeasure = std::function<bool(const std::wstring& text, float& width, size_t& clusters)>;

// The width of spaced or plain text: the whole layout's, or, set letter by letter, each
// grapheme's whole width plus the spacing between them. Zero when the text cannot be laid
// out. Each letter is measured whole, so no text is ever split twice.
float SpacedTextWidth(const std::wstring& text, float letterSpacing, const WholeTextMeasure& measureWhole);

// Spacing is added after every character, so centred and trailing text is moved right to
// keep the visible glyphs where the alignment puts them.
float LetterSpacingShift(int style, TextAlign align);

}  // namespace theme
