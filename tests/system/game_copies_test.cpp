// Names, copy numbers and argument quoting of game copies.
#include <gtest/gtest.h>

#include "base/game_copies.h"

namespace {

TEST(GameCopyNames, MutexNamesFollowTheClientsConvention) {
  EXPECT_EQ(GameInstanceMutexName(1), L"Global\\{42DEDDCF-8765-474A-ABCE-9F6F23B51443}");
  EXPECT_EQ(GameInstanceMutexName(2), L"Global\\{42DEDDCF-8765-474A-ABCE-9F6F23B51443}-2");
  EXPECT_EQ(GameInstanceMutexName(16), L"Global\\{42DEDDCF-8765-474A-ABCE-9F6F23B51443}-16");
}

TEST(GameCopyNames, PermissionEventCarriesCopyAndDigest) {
  EXPECT_EQ(LaunchPermissionEventName(3, "9f86d081884c7d65"), L"Local\\TalvoreenLaunchPermission-3-9f86d081884c7d65");
  EXPECT_NE(LaunchPermissionEventName(1, "ab"), LaunchPermissionEventName(11, "b"));
}

TEST(GameCopyNames, OnlyLowerHexTokensOfSixtyFourAreWellFormed) {
  const std::wstring token(L"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
  EXPECT_TRUE(IsWellFormedLaunchToken(token));
  EXPECT_FALSE(IsWellFormedLaunchToken(token.substr(1)));
  EXPECT_FALSE(IsWellFormedLaunchToken(token + L"0"));
  EXPECT_FALSE(IsWellFormedLaunchToken(L"0123456789ABCDEF0123456789abcdef0123456789abcdef0123456789abcdef"));
  EXPECT_FALSE(IsWellFormedLaunchToken(L"g123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"));
  EXPECT_FALSE(IsWellFormedLaunchToken(L""));
}

TEST(GameCopyNames, CopyNumberFromTheVariable) {
  EXPECT_EQ(GameCopyFromVariable(nullptr), 1);
  EXPECT_EQ(GameCopyFromVariable(L"1"), 1);
  EXPECT_EQ(GameCopyFromVariable(L"2"), 2);
  EXPECT_EQ(GameCopyFromVariable(L"16"), 16);
  for (const wchar_t* bad : {L"", L"0", L"17", L"02", L"2x", L" 2", L"-2", L"100", L"+3"}) {
    EXPECT_EQ(GameCopyFromVariable(bad), 0) << bad;
  }
}

TEST(GameCopyNames, LinksAreQuotedOnlyWhenTheyWouldSplit) {
  EXPECT_EQ(QuoteCommandArgument(L"mtasa://127.0.0.1:22003"), L"mtasa://127.0.0.1:22003");
  EXPECT_EQ(QuoteCommandArgument(L"C:\\a\\b"), L"C:\\a\\b");
  EXPECT_EQ(QuoteCommandArgument(L""), L"\"\"");
  EXPECT_EQ(QuoteCommandArgument(L"a b"), L"\"a b\"");
  EXPECT_EQ(QuoteCommandArgument(L"a\"b"), L"\"a\\\"b\"");
  EXPECT_EQ(QuoteCommandArgument(L"a\\\"b"), L"\"a\\\\\\\"b\"");
  EXPECT_EQ(QuoteCommandArgument(L"a b\\"), L"\"a b\\\\\"");
  EXPECT_EQ(QuoteCommandArgument(L"a\\b c"), L"\"a\\b c\"");
}

}  // namespace
