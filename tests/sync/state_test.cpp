#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>
#include <utility>

#include "manifest/installed_state.h"
#include "manifest/rules.h"
#include "tests/support/pieces.h"

namespace {

const std::string kHash = std::string(64, 'c');

TEST(InstalledStateText, ExactKeyOrderWithoutWhiteSpaceAndNoFalseFlags) {
  InstalledState state;
  state.build = "b12";
  state.complete = true;
  state.files.push_back({"data/a.txt", kHash, 5, 133000000000000000ull, false, false});
  state.files.push_back({"cfg/user.cfg", "", 3, 7, true, false});
  state.files.push_back({"resources/x/y.lua", "0123456789abcdef0123456789abcdef", 0, 0, false, true});
  EXPECT_EQ(SerializeInstalledState(state),
            "{\"version\":1,\"build\":\"b12\",\"complete\":true,\"files\":["
            "{\"path\":\"data/a.txt\",\"hash\":\"" +
                kHash +
                "\",\"size\":5,\"mtime\":133000000000000000},"
                "{\"path\":\"cfg/user.cfg\",\"hash\":\"\",\"size\":3,\"mtime\":7,\"keep\":true},"
                "{\"path\":\"resources/x/y.lua\",\"hash\":\"0123456789abcdef0123456789abcdef\",\"size\":0,\"mtime\":0,"
                "\"unavailable\":true}]}");
  EXPECT_EQ(SerializeInstalledState(InstalledState{}),
            "{\"version\":1,\"build\":\"\",\"complete\":false,\"files\":[]}");
  // The comparison without the text: equal only to the whole text, byte for byte.
  const std::string text = SerializeInstalledState(state);
  EXPECT_TRUE(SerializesTo(state, text));
  std::string changed = text;
  changed[text.size() / 2] ^= 1;
  for (const std::string& other : {text + " ", text.substr(0, text.size() - 1), changed, std::string()}) {
    EXPECT_FALSE(SerializesTo(state, other)) << other;
  }
  // Read in pieces of any size and entry by entry, the text gives the same record and is
  // canonical; any other text that gives it is not.
  const auto readInPieces = [](const std::string& input, size_t piece, StateTextFacts& facts) {
    std::optional<InstalledState> out = InstalledState();
    const bool read = ReadInstalledStateEntries(
        ReadInPieces(input, piece), [&](InstalledFile&& entry) { out->files.push_back(std::move(entry)); }, facts);
    if (!read) return std::optional<InstalledState>();
    out->build = facts.build;
    out->complete = facts.complete;
    return out;
  };
  const std::string reordered = "{\"build\":\"b12\",\"version\":1,\"complete\":true" + text.substr(text.find(",\"files\""));
  for (const auto& [input, canonical] : std::vector<std::pair<std::string, bool>>{
           {text, true}, {text + " ", false}, {text + "\n\n", false}, {reordered, false}}) {
    for (size_t piece : {size_t{1}, size_t{7}, input.size()}) {
      StateTextFacts facts;
      const auto back = readInPieces(input, piece, facts);
      ASSERT_TRUE(back) << input << " " << piece;
      EXPECT_EQ(*back, state);
      EXPECT_EQ(facts.canonical, canonical) << input << " " << piece;
    }
  }
  StateTextFacts facts;
  const auto back = readInPieces(changed, 5, facts);
  EXPECT_FALSE(back && facts.canonical && *back == state);
  // A NUL byte reads as the end of the text only where the text ends; entries cannot be taken
  // back, so a second "files" member fails.
  EXPECT_FALSE(readInPieces(text + std::string(1, '\0') + " ", 3, facts));
  EXPECT_FALSE(readInPieces(text.substr(0, 20) + std::string(1, '\0') + text.substr(20), 3, facts));
  EXPECT_FALSE(readInPieces(text.substr(0, text.size() - 1) + ",\"files\":[]}", 4, facts));
  EXPECT_TRUE(ParseInstalledState(text.substr(0, text.size() - 1) + ",\"files\":[]}"));
}

TEST(InstalledStateText, RoundTrips) {
  InstalledState state;
  state.build = "build \"quoted\" \xC3\xA7";
  state.files.push_back(
      {"veri/\xC5\x9F"
       "ehir.txt",
       kHash, 18446744073709551615ull, 1, true, true});
  const auto back = ParseInstalledState(SerializeInstalledState(state));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, state);
}

TEST(InstalledStateText, Sha256StandsInForAMissingHash) {
  auto state = ParseInstalledState(
      "{\"files\":[{\"path\":\"a\",\"sha256\":\"old\"},"
      "{\"path\":\"b\",\"hash\":\"new\",\"sha256\":\"old\"},"
      "{\"path\":\"c\",\"hash\":5,\"sha256\":\"old\"},{\"path\":\"d\"}]}");
  ASSERT_TRUE(state);
  ASSERT_EQ(state->files.size(), 4u);
  EXPECT_EQ(state->files[0].hash, "old");
  EXPECT_EQ(state->files[1].hash, "new");
  EXPECT_EQ(state->files[2].hash, "old");
  EXPECT_EQ(state->files[3].hash, "");
}

TEST(InstalledStateText, UnsafeEntriesAreSkippedAndTheRestLoads) {
  std::string files;
  for (const char* path : {"a//b", "./x", "../x", "a/./b", "x.", "x ", "con", "NUL.txt", "com1", "Lpt9.log", "aux/x",
                           "/abs", "a\\\\b", ".talvoreen/installed.json", ".TALVOREEN/x", "a:b", ""}) {
    files += std::string("{\"path\":\"") + path + "\",\"hash\":\"h\"},";
  }
  files += "{\"path\":\"good/one.txt\",\"hash\":\"h\"},5,\"text\",null,{\"hash\":\"nopath\"},{\"path\":7},";
  files += "{\"path\":\"x/.talvoreen/y\"}";
  auto state = ParseInstalledState("{\"version\":1,\"build\":\"b\",\"complete\":true,\"files\":[" + files + "]}");
  ASSERT_TRUE(state);
  ASSERT_EQ(state->files.size(), 2u);
  EXPECT_EQ(state->files[0].path, "good/one.txt");
  EXPECT_EQ(state->files[1].path, "x/.talvoreen/y");
  EXPECT_EQ(state->build, "b");
  EXPECT_TRUE(state->complete);
}

TEST(InstalledStateText, LenientFieldsAndStrictFilesArray) {
  auto state = ParseInstalledState(
      "{\"version\":\"whatever\",\"build\":5,\"complete\":\"yes\",\"files\":["
      "{\"path\":\"a\",\"size\":1.5,\"mtime\":-3,\"keep\":1,\"unavailable\":\"true\"}]}");
  ASSERT_TRUE(state);
  EXPECT_EQ(state->build, "");
  EXPECT_FALSE(state->complete);
  ASSERT_EQ(state->files.size(), 1u);
  EXPECT_EQ(state->files[0].size, 0u);
  EXPECT_EQ(state->files[0].mtime, 0u);
  EXPECT_FALSE(state->files[0].keep);
  EXPECT_FALSE(state->files[0].unavailable);

  EXPECT_FALSE(ParseInstalledState("{\"build\":\"b\"}"));
  EXPECT_FALSE(ParseInstalledState("{\"files\":{}}"));
  EXPECT_FALSE(ParseInstalledState("{\"files\":[]"));
  EXPECT_FALSE(ParseInstalledState("[]"));
  EXPECT_FALSE(ParseInstalledState(""));
  EXPECT_TRUE(ParseInstalledState("{\"files\":[]}"));
}

TEST(InstalledStateText, TheLimitAndNotOneByteMore) {
  std::string text = "{\"files\":[]}";
  text.resize(kMaxStateFileBytes, ' ');
  EXPECT_TRUE(ParseInstalledState(text));
  text.push_back(' ');
  EXPECT_FALSE(ParseInstalledState(text));
}

// The bounds the list limits are checked against hold for the longest entry there can be.
TEST(InstalledStateText, TheLongestEntryAndTheFrameStayWithinTheirBounds) {
  InstalledState state;
  EXPECT_LE(SerializeInstalledState(state).size(), kStateFrameBytes);
  const InstalledFile longest{std::string(kMaxSafePathBytes, 'p'), kHash, UINT64_MAX, UINT64_MAX, true, true};
  state.files.push_back(longest);
  const size_t one = SerializeInstalledState(state).size();
  state.files.push_back(longest);
  EXPECT_EQ(SerializeInstalledState(state).size() - one, StateEntryBytesAtMost(kMaxSafePathBytes, kHash.size()));
  EXPECT_LE(one, kStateFrameBytes + StateEntryBytesAtMost(kMaxSafePathBytes, kHash.size()));
}

}  // namespace

namespace {

// A run skips writing a record the file already holds; any difference but the order is a change.
TEST(InstalledStateText, SameRecordIgnoresOnlyTheOrderOfEntries) {
  InstalledState a;
  a.build = "b";
  a.complete = true;
  a.files = {{"x", kHash, 1, 2, false, false}, {"y", "", 3, 4, true, false}, {"z", kHash, 0, 0, false, true}};
  InstalledState b = a;
  std::swap(b.files[0], b.files[2]);
  EXPECT_TRUE(SameRecord(a, b));
  // The entries' digest, which stands in for a record that was not kept, agrees.
  EXPECT_EQ(EntriesDigest(a), EntriesDigest(b));
  const auto changed = [&](auto change) {
    InstalledState c = b;
    change(c);
    if (c.build == a.build && c.complete == a.complete) {
      EXPECT_NE(EntriesDigest(a), EntriesDigest(c));
    }
    return !SameRecord(a, c);
  };
  EXPECT_TRUE(changed([](InstalledState& c) { c.build = "c"; }));
  EXPECT_TRUE(changed([](InstalledState& c) { c.complete = false; }));
  EXPECT_TRUE(changed([](InstalledState& c) { c.files[1].mtime = 5; }));
  EXPECT_TRUE(changed([](InstalledState& c) { c.files[1].keep = false; }));
  EXPECT_TRUE(changed([](InstalledState& c) { c.files[0].unavailable = false; }));
  EXPECT_TRUE(changed([](InstalledState& c) { c.files[2].hash = "d"; }));
  EXPECT_TRUE(changed([](InstalledState& c) { c.files[2] = c.files[0]; }));
  EXPECT_TRUE(changed([](InstalledState& c) { c.files.pop_back(); }));
}

}  // namespace
