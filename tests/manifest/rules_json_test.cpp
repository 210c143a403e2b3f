#include <gtest/gtest.h>
#include <json-c/json.h>

#include "manifest/json.h"
#include "manifest/rules.h"

namespace {

TEST(IsSafeRelativePath, AcceptsOrdinaryPaths) {
  for (const char* path : {"data/readme.txt", ".talvoreen2/x", "x/.talvoreen/y", "console", "com10", "lpt0.txt", "a",
                           "models/vehicles/infernus.dff", "a b/c d.txt", ".hidden", "x/..a", "con2.dat"}) {
    EXPECT_TRUE(IsSafeRelativePath(path)) << path;
  }
  EXPECT_TRUE(
      IsSafeRelativePath("veri/\xC5\x9F"
                         "ehir.txt"));  // UTF-8 bytes are allowed
  // Bytes that are not UTF-8 name no one file: each would turn into U+FFFD on the way to Windows.
  for (const std::string& path : {std::string("\xFF\x80", 2), std::string("a/\xC5"), std::string("\xC0\xAF"),
                                  std::string("\xED\xA0\x80.txt"), std::string("\xF4\x90\x80\x80")}) {
    EXPECT_FALSE(IsSafeRelativePath(path)) << path;
  }
}

TEST(IsSafeRelativePath, RefusesTheListedCases) {
  for (const char* path : {"../x",    "a/./b",    "a/b.", "a/b ",         "nul",           "x/aux.dat",
                           "a:b",     "a\\b",     "/abs", ".TALVOREEN/x", ".talvoreen",    ".Talvoreen/state.json",
                           "a//b",    "a/",       ".",    "..",           "x/..",          "CON",
                           "con.txt", "Lpt1.log", "com9", "PRN.x.y",      "dir/lpt9/file", "a/COM1"}) {
    EXPECT_FALSE(IsSafeRelativePath(path)) << path;
  }
  EXPECT_FALSE(IsSafeRelativePath(""));
  EXPECT_FALSE(IsSafeRelativePath(nullptr, 0));
}

TEST(IsSafeRelativePath, RefusesControlBytesAndWindowsSpecialCharacters) {
  for (char c : std::string("\"*:<>?\\|")) EXPECT_FALSE(IsSafeRelativePath(std::string("a") + c + "b")) << c;
  for (int c = 0; c < 0x20; ++c) {
    EXPECT_FALSE(IsSafeRelativePath(std::string("a") + static_cast<char>(c) + "b")) << c;
  }
  EXPECT_TRUE(IsSafeRelativePath(std::string("a") + static_cast<char>(0x7F) + "b"));
}

TEST(IsSafeRelativePath, Allows240BytesAndNoMore) {
  const std::string exact = std::string(100, 'a') + "/" + std::string(139, 'b');
  ASSERT_EQ(exact.size(), 240u);
  EXPECT_TRUE(IsSafeRelativePath(exact));
  EXPECT_FALSE(IsSafeRelativePath(exact + "c"));
}

TEST(IsLowerHex64, NeedsSixtyFourLowerCaseDigits) {
  const std::string good(64, 'a');
  EXPECT_TRUE(IsLowerHex64(good));
  EXPECT_TRUE(IsLowerHex64("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"));
  EXPECT_FALSE(IsLowerHex64(std::string(63, 'a')));
  EXPECT_FALSE(IsLowerHex64(std::string(65, 'a')));
  EXPECT_FALSE(IsLowerHex64(std::string(63, 'a') + "A"));
  EXPECT_FALSE(IsLowerHex64(std::string(63, 'a') + "g"));
  EXPECT_FALSE(IsLowerHex64(""));
}

TEST(LowerHex, HighNibbleFirst) {
  const unsigned char bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
  EXPECT_EQ(LowerHex(bytes, 4), "000fa5ff");
  EXPECT_EQ(AsciiLower("Data/\xC3\x9C.TXT"), "data/\xC3\x9C.txt");
}

TEST(ParseJson, TakesTheWholeText) {
  EXPECT_NE(ParseJson("{\"a\":1}"), nullptr);
  EXPECT_NE(ParseJson("{\"a\":1}\r\n  "), nullptr);
  EXPECT_NE(ParseJson("[1,2]"), nullptr);
  EXPECT_EQ(ParseJson("{\"a\":1"), nullptr);  // ended inside the value
  EXPECT_EQ(ParseJson("{\"a\":}"), nullptr);  // syntax error
  EXPECT_EQ(ParseJson("{\"a\":1} trailing"), nullptr);
  EXPECT_EQ(ParseJson(""), nullptr);
  EXPECT_EQ(ParseJson("<html><body>502</body></html>"), nullptr);
  EXPECT_EQ(ParseJson(std::string(200, '[')), nullptr);  // deeper than the tokener allows
}

TEST(JsonGet, StringsKeepTheirBytesAndTypesAreChecked) {
  JsonPtr root = ParseJson(
      "{\"s\":\"a\\u0000b\",\"n\":5,\"neg\":-1,\"d\":5.0,\"e\":5e0,\"t\":\"5\",\"b\":true,"
      "\"big\":18446744073709551615,\"max\":9223372036854775807}");
  ASSERT_NE(root, nullptr);
  std::string text;
  ASSERT_TRUE(JsonGetString(root.get(), "s", text));
  EXPECT_EQ(text, std::string("a\0b", 3));
  EXPECT_FALSE(JsonGetString(root.get(), "n", text));
  EXPECT_FALSE(JsonGetString(root.get(), "missing", text));
  EXPECT_FALSE(JsonGetString(nullptr, "s", text));

  uint64_t value = 7;
  EXPECT_TRUE(JsonGetUInt64(root.get(), "n", value));
  EXPECT_EQ(value, 5u);
  EXPECT_TRUE(JsonGetUInt64(root.get(), "big", value));
  EXPECT_EQ(value, 18446744073709551615ull);
  EXPECT_TRUE(JsonGetUInt64(root.get(), "max", value));
  EXPECT_EQ(value, 9223372036854775807ull);
  value = 7;
  for (const char* key : {"neg", "d", "e", "t", "b", "s", "missing"}) {
    EXPECT_FALSE(JsonGetUInt64(root.get(), key, value)) << key;
  }
  EXPECT_EQ(value, 7u);
  EXPECT_FALSE(JsonGetUInt64(nullptr, "n", value));

  bool flag = false;
  EXPECT_TRUE(JsonGetBool(root.get(), "b", flag));
  EXPECT_TRUE(flag);
  EXPECT_FALSE(JsonGetBool(root.get(), "n", flag));

  JsonPtr array = ParseJson("[1]");
  EXPECT_FALSE(JsonGetUInt64(array.get(), "n", value));
  EXPECT_EQ(JsonGetMember(array.get(), "n", json_type_int), nullptr);
}

}  // namespace
