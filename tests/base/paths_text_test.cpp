#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "base/compact_string.h"
#include "base/file_name_case.h"
#include "base/paths.h"
#include "base/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Pairs of names and whether Windows takes them for one file. Under Wine the same table is
// checked against the system's own ordinal case-insensitive comparison.
TEST(FileNameKey, FoldsCaseAsWindowsComparesNames) {
  const std::vector<std::tuple<std::string, std::string, bool>> cases = {
      {"Data/a.TXT", "data/A.txt", true},
      {"\xC5\x9E" "ehir.txt", "\xC5\x9F" "ehir.txt", true},          // Şehir / şehir
      {"\xC3\x84.dat", "\xC3\xA4.dat", true},                      // Ä / ä
      {"\xC3\x9C\xC3\x87\xC4\x9E", "\xC3\xBC\xC3\xA7\xC4\x9F", true},  // ÜÇĞ / üçğ
      {"\xCE\xA3\xCE\xBF", "\xCF\x83\xCE\x9F", true},              // Σο / σΟ
      {"\xD0\x96", "\xD0\xB6", true},                              // Ж / ж
      {"\xC4\xB0", "i", false},                                     // İ / i: i upper-cases to I
      {"\xC4\xB0", "I", false},
      {"\xC4\xB1", "I", false},                                     // ı / I: not a case pair
      {"\xC5\xBF", "S", false},                                     // long s / S
      {"\xC2\xB5", "\xCE\x9C", false},                              // micro sign / Μ
      {"\xCF\x82", "\xCE\xA3", false},                              // final sigma / Σ
      {"\xC7\x85", "\xC7\x84", false},                              // ǅ / Ǆ
      {"\xC7\x86", "\xC7\x84", true},                               // ǆ / Ǆ
      {"\xC3\x9F", "SS", false},                                    // ß stays one letter
      {"a\xCC\x88", "\xC3\xA4", false},                            // composed and decomposed ä
      {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80", false},                // beyond the BMP: not folded
  };
  for (const auto& [a, b, same] : cases) {
    std::string keyA, keyB;
    ASSERT_TRUE(FileNameKey(a, keyA)) << a;
    ASSERT_TRUE(FileNameKey(b, keyB)) << b;
    EXPECT_EQ(keyA == keyB, same) << a << " / " << b;
#ifdef _WIN32
    const std::wstring wa = WideFromUtf8(a), wb = WideFromUtf8(b);
    const bool windowsSame = CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(),
                                                  static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
    EXPECT_EQ(windowsSame, same) << a << " / " << b;
#endif
  }
  std::string key = "untouched";
  for (const std::string& bad : {std::string("\xFF"), std::string("a\xC3"), std::string("\xE0\x80\x80"),
                                 std::string("\xED\xB0\x80")}) {
    EXPECT_FALSE(FileNameKey(bad, key)) << bad;
    EXPECT_FALSE(IsValidUtf8(bad));
  }
  EXPECT_EQ(key, "untouched");
  EXPECT_EQ(UpperCaseForFileName(U'\u00FF'), U'\u0178');
  EXPECT_EQ(UpperCaseForFileName(U'\u1F80'), U'\u1F88');  // simple mapping, not the two-letter full one
  EXPECT_EQ(UpperCaseForFileName(U'\u10D0'), U'\u1C90');  // Georgian Mtavruli, Unicode 11
  EXPECT_EQ(UpperCaseForFileName(U'\u0130'), U'\u0130');
}

TEST(JoinPath, AddsOneSeparatorAndTurnsSlashes) {
  EXPECT_EQ(JoinPath(L"C:\\a", L"b/c"), L"C:\\a\\b\\c");
  EXPECT_EQ(JoinPath(L"C:\\a\\", L"b"), L"C:\\a\\b");
  EXPECT_EQ(JoinPath(L"C:/a/", L"b"), L"C:/a/b");
  EXPECT_EQ(JoinPath(L"", L"TALVOREEN/logs"), L"TALVOREEN\\logs");
  EXPECT_EQ(JoinPath(L"C:\\a", L""), L"C:\\a\\");
}

TEST(ParentPath, TextBeforeTheLastSeparator) {
  EXPECT_EQ(ParentPath(L"C:\\a\\b.exe"), L"C:\\a");
  EXPECT_EQ(ParentPath(L"C:/a/b"), L"C:/a");
  EXPECT_EQ(ParentPath(L"C:\\"), L"C:");
  EXPECT_EQ(ParentPath(L"name"), L"");
  EXPECT_EQ(FileNamePart(L"C:\\a\\b.exe"), L"b.exe");
}

TEST(NormalizeSeparatorsAndDots, ResolvesSegmentsButKeepsRoots) {
  EXPECT_EQ(NormalizeSeparatorsAndDots(L"C:/a//b/./c/../d"), L"C:\\a\\b\\d");
  EXPECT_EQ(NormalizeSeparatorsAndDots(L"C:\\..\\.."), L"C:\\");
  EXPECT_EQ(NormalizeSeparatorsAndDots(L"C:\\a\\..\\"), L"C:\\");
  EXPECT_EQ(NormalizeSeparatorsAndDots(L"\\\\server\\share\\x\\..\\y"), L"\\\\server\\share\\y");
  EXPECT_EQ(NormalizeSeparatorsAndDots(L"\\\\?\\C:\\a\\..\\b"), L"\\\\?\\C:\\b");
  EXPECT_EQ(NormalizeSeparatorsAndDots(L"C:\\a\\b\\"), L"C:\\a\\b\\");
}

// Forms that a current directory would complete are refused, as are roots however spelled.
TEST(IsRootOrDriveRelativeFolder, RefusesDriveRelativeFormsAndRoots) {
  for (const wchar_t* refused : {L"", L"C:", L"d:", L"C:.", L"C:..", L"D:Oyunlar", L"D:Oyunlar\\Talvoreen", L"\\Oyunlar",
                                 L"/Oyunlar", L"\\", L"C:\\", L"C:/", L"C:\\.", L"C:\\a\\..", L"C:\\..\\..\\", L"\\\\server\\share",
                                 L"\\\\server\\share\\", L"\\\\server", L"\\\\?\\D:", L"\\\\?\\D:\\", L"\\\\.\\C:Oyun",
                                 L"\\\\?\\UNC\\server\\share"}) {
    EXPECT_TRUE(IsRootOrDriveRelativeFolder(refused)) << Utf8FromWide(refused);
  }
  for (const wchar_t* accepted : {L"C:\\Talvoreen", L"D:/Oyunlar/", L"C:\\a\\..\\b", L"\\\\server\\share\\Talvoreen",
                                  L"\\\\?\\D:\\Test Paketi", L"\\\\?\\UNC\\server\\share\\x", L"Oyun", L".\\Oyun"}) {
    EXPECT_FALSE(IsRootOrDriveRelativeFolder(accepted)) << Utf8FromWide(accepted);
  }
}

TEST(TrimTrailingSeparators, StopsAtThreeCharacters) {
  EXPECT_EQ(TrimTrailingSeparators(L"C:\\"), L"C:\\");
  EXPECT_EQ(TrimTrailingSeparators(L"C:\\a\\\\//"), L"C:\\a");
  EXPECT_EQ(TrimTrailingSeparators(L"ab\\/"), L"ab\\");
}

// Reparse tags as the file system reports them: only name surrogates are links. Under Wine
// the table is checked against the system's own macro too.
TEST(IsLinkEntry, OnlyNameSurrogateReparsePointsAreLinks) {
  constexpr uint32_t kDirectory = 0x10, kReparse = 0x400, kArchive = 0x20, kOffline = 0x1000;
  constexpr uint32_t kRecallOnDataAccess = 0x400000;
  const std::vector<std::tuple<uint32_t, uint32_t, bool>> cases = {
      {kReparse | kDirectory, 0xA0000003, true},                        // junction
      {kReparse | kDirectory, 0xA000000C, true},                        // directory symbolic link
      {kReparse | kArchive, 0xA000000C, true},                          // file symbolic link
      {kReparse, 0xA000001D, true},                                     // WSL symbolic link
      {kReparse | kDirectory, 0x9000601A, false},                       // OneDrive folder (cloud)
      {kReparse | kArchive | kRecallOnDataAccess, 0x9000001A, false},   // cloud placeholder file
      {kReparse | kArchive | kOffline, 0x9000101A, false},              // cloud file, offline
      {kReparse | kArchive, 0x80000021, false},                         // OneDrive
      {kReparse | kArchive, 0x80000013, false},                         // deduplicated
      {kReparse | kArchive, 0x8000001B, false},                         // app execution alias
      {kReparse | kArchive, 0x80000017, false},                         // WOF-compressed
      {kReparse | kDirectory, 0, true},                                 // tag unknown: never followed
      {kDirectory, 0xA0000003, false},                                  // stale tag, no reparse point
      {kArchive, 0, false},
  };
  for (const auto& [attributes, tag, link] : cases) {
    EXPECT_EQ(IsLinkEntry(attributes, tag), link) << std::hex << attributes << " " << tag;
#ifdef _WIN32
    if (tag != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      EXPECT_EQ(IsReparseTagNameSurrogate(tag) != 0, link);
    }
#endif
  }
}

TEST(Utf8, RoundTripsTurkishAndAstralText) {
  const std::wstring turkish = L"Yanıt yarım geldi; ĞÜŞİÖÇ ğüşıöç";
  const std::string utf8 = Utf8FromWide(turkish);
  EXPECT_EQ(utf8, "Yan\xC4\xB1t yar\xC4\xB1m geldi; \xC4\x9E\xC3\x9C\xC5\x9E\xC4\xB0\xC3\x96\xC3\x87 "
                  "\xC4\x9F\xC3\xBC\xC5\x9F\xC4\xB1\xC3\xB6\xC3\xA7");
  EXPECT_EQ(WideFromUtf8(utf8), turkish);
  const std::string emoji = "\xF0\x9F\x8E\xAE";  // U+1F3AE
  EXPECT_EQ(Utf8FromWide(WideFromUtf8(emoji)), emoji);
}

TEST(Utf8, InvalidInputBecomesReplacementCharacters) {
  EXPECT_EQ(WideFromUtf8(std::string("a\xFF" "b")), L"a\uFFFDb");
  EXPECT_EQ(WideFromUtf8(std::string("\xC0\x80")), L"\uFFFD");          // overlong NUL
  EXPECT_EQ(WideFromUtf8(std::string("\xED\xA0\x80")), L"\uFFFD");      // encoded surrogate
  EXPECT_EQ(WideFromUtf8(std::string("x\xE2\x82")), L"x\uFFFD");        // truncated at the end
  EXPECT_EQ(WideFromUtf8(std::string("\xE2\x82" "A")), L"\uFFFD" L"A");  // truncated in the middle
  EXPECT_EQ(WideFromUtf8(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

// Texts made whole, made with a folder shared with the text before, or copied from either
// compare, order and print as the std::string they stand for, whatever form they are held in.
TEST(CompactString, BehavesAsItsTextWhateverItsPieces) {
  const std::vector<std::string> texts = {"", "a", "a/", "a/b", "a/b/c.txt", "a/b/d.txt", "a/bc", "ab/c", "a/b/c.txtx",
                                          "\xC5\x9F/\xC3\xA4.dat", "z",
                                          // hex digits, held as bytes where they are lower case and paired
                                          "ab", "abc", "abcd", "abce", "0a", "a0", "ABCD", "0f/ab",
                                          "d41d8cd98f00b204e9800998ecf8427e"};
  std::vector<CompactString> made;
  {
    FolderSharing sharing;  // goes first: what it made keeps its folders
    for (const std::string& text : texts) {
      made.push_back(sharing.Make(text));
      made.push_back(sharing.Make(text));  // shares the folder just made
      made.push_back(CompactString(text));
    }
  }
  for (size_t i = 0; i < made.size(); ++i) {
    const std::string& text = texts[i / 3];
    const CompactString copy = made[i];
    EXPECT_EQ(copy.str(), text);
    EXPECT_EQ(copy.size(), text.size());
    EXPECT_EQ(copy.empty(), text.empty());
    std::string scratch;
    const auto [first, second] = copy.Pieces(scratch);
    EXPECT_EQ(std::string(first) + std::string(second), text);
    for (size_t j = 0; j < made.size(); ++j) {
      const std::string& other = texts[j / 3];
      EXPECT_EQ(copy == made[j], text == other) << text << " / " << other;
      EXPECT_EQ(copy == other, text == other) << text << " / " << other;
      EXPECT_EQ(copy < made[j], text < other) << text << " / " << other;
      EXPECT_EQ(copy.Compare(made[j]) > 0, text > other) << text << " / " << other;
    }
  }
}

TEST(EqualsIgnoreCase, FoldsLettersOnly) {
  EXPECT_TRUE(EqualsIgnoreCase(L"C:\\Bin\\Launcher", L"c:\\bin\\LAUNCHER"));
  EXPECT_FALSE(EqualsIgnoreCase(L"abc", L"abd"));
  EXPECT_FALSE(EqualsIgnoreCase(L"abc", L"abcd"));
  EXPECT_TRUE(EqualsIgnoreCase(L"", L""));
}

}  // namespace
