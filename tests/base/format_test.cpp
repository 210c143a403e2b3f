#include <gtest/gtest.h>

#include "base/format.h"

namespace {

TEST(FormatSize, UnitStepsAndRounding) {
  EXPECT_EQ(FormatSize(0), L"0 B");
  EXPECT_EQ(FormatSize(512), L"512 B");
  EXPECT_EQ(FormatSize(1023), L"1023 B");
  EXPECT_EQ(FormatSize(1024), L"1,0 KB");
  EXPECT_EQ(FormatSize(1536), L"1,5 KB");
  EXPECT_EQ(FormatSize(1048575), L"1024 KB");  // just below the MB step, rounded by printf
  EXPECT_EQ(FormatSize(1048576), L"1,0 MB");
  EXPECT_EQ(FormatSize(610325061), L"582 MB");
  EXPECT_EQ(FormatSize(92589670), L"88,3 MB");
  EXPECT_EQ(FormatSize(1073741824), L"1,0 GB");
  EXPECT_EQ(FormatSize(4724464025ull), L"4,4 GB");
  EXPECT_EQ(FormatSize(1099511627776ull * 3), L"3072 GB");  // there is no TB step
}

TEST(FormatNumber, OneDecimalBelowAHundred) {
  EXPECT_EQ(FormatNumber(1.5), L"1,5");
  EXPECT_EQ(FormatNumber(99.94), L"99,9");
  EXPECT_EQ(FormatNumber(99.96), L"100,0");
  EXPECT_EQ(FormatNumber(100), L"100");
  EXPECT_EQ(FormatNumber(150.4), L"150");
}

TEST(FormatSpeed, TruncatesToBytes) {
  EXPECT_EQ(FormatSpeed(512.9), L"512 B/sn");
  EXPECT_EQ(FormatSpeed(13212057.6), L"12,6 MB/sn");
  EXPECT_EQ(FormatSpeed(0), L"0 B/sn");
  EXPECT_EQ(FormatSpeed(-5), L"0 B/sn");
  EXPECT_EQ(FormatSpeed(1e30), L"17179869184 GB/sn");
}

TEST(FormatDuration, RoundsAndSplits) {
  EXPECT_EQ(FormatDuration(0), L"1 sn");
  EXPECT_EQ(FormatDuration(-5), L"1 sn");
  EXPECT_EQ(FormatDuration(0.4), L"1 sn");
  EXPECT_EQ(FormatDuration(45), L"45 sn");
  EXPECT_EQ(FormatDuration(59.4), L"59 sn");
  EXPECT_EQ(FormatDuration(59.6), L"1 dk 0 sn");
  EXPECT_EQ(FormatDuration(247), L"4 dk 7 sn");
  EXPECT_EQ(FormatDuration(3599.4), L"59 dk 59 sn");
  EXPECT_EQ(FormatDuration(3600), L"1 sa 0 dk");
  EXPECT_EQ(FormatDuration(7500), L"2 sa 5 dk");
  EXPECT_EQ(FormatDuration(7559), L"2 sa 5 dk");  // seconds are dropped
}

TEST(FormatPercent, ClampsAndTruncates) {
  EXPECT_EQ(FormatPercent(0.42), L"%42");
  EXPECT_EQ(FormatPercent(0.999), L"%99");
  EXPECT_EQ(FormatPercent(1.7), L"%100");
  EXPECT_EQ(FormatPercent(-0.2), L"%0");
  EXPECT_EQ(FormatPercent(1.0), L"%100");
}

TEST(CompareVersions, NumericPartsInOrder) {
  EXPECT_EQ(CompareVersions("0.4.21", "0.4.3"), 1);
  EXPECT_EQ(CompareVersions("0.4.3", "0.4.21"), -1);
  EXPECT_EQ(CompareVersions("1.0", "1.0.0"), 0);
  EXPECT_EQ(CompareVersions("", "0"), 0);
  EXPECT_EQ(CompareVersions("0.4.20", "0.4.21"), -1);
  EXPECT_EQ(CompareVersions("0.0.0", "0.4.21"), -1);
  EXPECT_EQ(CompareVersions("1.2", "1.10"), -1);
  EXPECT_EQ(CompareVersions("2", "10"), -1);
  EXPECT_EQ(CompareVersions("1.2.3", "1.2.3"), 0);
  EXPECT_EQ(CompareVersions("0.5-beta", "0.5"), 0);  // one separator is skipped, letters read as 0
}

#ifdef _WIN32
TEST(WindowsErrorText, SystemMessageWithoutTrailingPunctuation) {
  for (uint32_t code : {2u, 5u, 32u, 112u, 12002u, 0x12345u}) {
    const std::wstring text = WindowsErrorText(code);
    ASSERT_FALSE(text.empty()) << code;
    const wchar_t last = text.back();
    EXPECT_NE(last, L'.') << code;
    EXPECT_NE(last, L'\n') << code;
    EXPECT_NE(last, L'\r') << code;
    EXPECT_NE(last, L' ') << code;
  }
  EXPECT_EQ(WindowsErrorText(0x12345u), L"Hata 74565");
  EXPECT_NE(WindowsErrorText(2), L"Hata 2");  // from the system table
  EXPECT_EQ(WithSystemError(L"Diske yazılamadı", L"C:\\a", 0x12345u), L"Diske yazılamadı (C:\\a): Hata 74565");
}
#endif

// Every failure that carries the system's reason reads the same way: the reason last.
TEST(WithSystemText, PlaceInParenthesesReasonAfterAColon) {
  EXPECT_EQ(WithSystemText(L"Diske yazılamadı", L"Disk dolu"), L"Diske yazılamadı: Disk dolu");
  EXPECT_EQ(WithSystemText(L"Silinemedi", L"C:\\T\\a.txt", L"Erişim engellendi"),
            L"Silinemedi (C:\\T\\a.txt): Erişim engellendi");
  EXPECT_EQ(WithSystemText(L"Kurulum tamamlanamadı", L"C:\\T\\GTA-SA.old", L""), L"Kurulum tamamlanamadı (C:\\T\\GTA-SA.old)");
  EXPECT_EQ(WithSystemText(L"Başlatılamadı", L""), L"Başlatılamadı");
}

}  // namespace
