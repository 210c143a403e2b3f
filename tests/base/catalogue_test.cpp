#include <gtest/gtest.h>

#include "base/catalogue.h"
#include "base/config.h"

namespace {

const std::wstring kCorvelHost = TALVOREEN_WIDEN(TALVOREEN_CORVEL_HOST);

TEST(Catalogue, RowsAreInTheirFixedOrder) {
  const wchar_t* keys[] = {L"corvel", L"talvoreen", L"meridian", L"dev"};
  for (int i = 0; i < ServerCatalogue::kCount; ++i) {
    EXPECT_EQ(ServerCatalogue::IndexOfKey(keys[i]), i);
    const std::wstring address = ServerCatalogue::kGameAddresses[i];
    EXPECT_EQ(address.substr(address.size() - 6), L":22003");
    const std::wstring files = ServerCatalogue::kClientFilesUrls[i];
    EXPECT_EQ(files, L"http://" + address.substr(0, address.size() - 6) + L":22005/.talvoreen/client-files.json");
  }
  EXPECT_EQ(std::wstring(ServerCatalogue::kTitles[0]), L"Corvel Roleplay");
  EXPECT_EQ(std::wstring(ServerCatalogue::kTitles[3]), L"Development Server");
  EXPECT_EQ(std::wstring(ServerCatalogue::kPlayerCountUrls[3]), L"");
  const std::wstring count = ServerCatalogue::kPlayerCountUrls[1];
  EXPECT_EQ(count.rfind(L"https://", 0), 0u);
  EXPECT_EQ(count.substr(count.size() - 18), L"/game/player-count");
  EXPECT_EQ(ServerCatalogue::IndexOfKey(L"Corvel"), -1);
}

TEST(JoinLink, KeysResolveCaseInsensitivelyWithTrailingSlashes) {
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://corvel", false), 0);
  EXPECT_EQ(ResolveJoinLink(L"TALVOREEN://Corvel/", false), 0);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://corvel///", false), 0);
  EXPECT_EQ(ResolveJoinLink(L"Talvoreen://TALVOREEN", false), 1);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://meridian", false), 2);
}

TEST(JoinLink, HostsResolveWithTheGamePortOnly) {
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://" + kCorvelHost, false), 0);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://" + kCorvelHost + L":22003", false), 0);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://" + kCorvelHost + L":22004", false), -1);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://" + kCorvelHost + L":", false), -1);
}

TEST(JoinLink, DevelopmentServerOnlyWhenEnabled) {
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://dev", false), -1);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://dev", true), 3);
  const std::wstring devAddress = ServerCatalogue::kGameAddresses[3];
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://" + devAddress, true), 3);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://" + devAddress, false), -1);
}

TEST(JoinLink, LengthLimits) {
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://", false), -1);  // 12 characters
  EXPECT_EQ(ResolveJoinLink(L"talvoreen:/", false), -1);
  EXPECT_EQ(ResolveJoinLink(L"", false), -1);
  // 256 characters is allowed (and names nothing), 257 is refused even if it would name a key.
  std::wstring padded = L"talvoreen://corvel" + std::wstring(256 - 18, L'/');
  ASSERT_EQ(padded.size(), 256u);
  EXPECT_EQ(ResolveJoinLink(padded, false), 0);
  EXPECT_EQ(ResolveJoinLink(padded + L"/", false), -1);
}

TEST(JoinLink, RejectsForeignCharactersAndSchemes) {
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://cor_vel", false), -1);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://cor vel", false), -1);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://corvél", false), -1);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://\u0130corvel", false), -1);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen:///", false), -1);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://corvel/path", false), -1);
  EXPECT_EQ(ResolveJoinLink(L"mtasa://corvel", false), -1);
  EXPECT_EQ(ResolveJoinLink(L"xtalvoreen://corvel", false), -1);
  EXPECT_EQ(ResolveJoinLink(L"talvoreen://unknown", false), -1);
}

}  // namespace
