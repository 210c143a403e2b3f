// Large files fetched in chunks, against a CDN tree written by talvoreen-publish to which the
// chunk lists and chunk objects are added here with the launcher's own chunker.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "base/files.h"
#include "base/log.h"
#include "base/text.h"
#include "manifest/chunking.h"
#include "manifest/hashing.h"
#include "sync/game_sync.h"
#include "tests/support/gzip.h"
#include "tests/support/http_test_server.h"
#include "tests/support/noise.h"
#include "tests/support/signing.h"
#include "tests/support/test_support.h"
#include "tools/publish/publish.h"

using testing_support::HttpTestServer;
using testing_support::Noise;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::TestRequest;
using testing_support::TestResponse;
using testing_support::WriteBytes;

namespace {

bool Put(const std::wstring& path, const std::string& bytes) {
  CreateDirectoryTree(ParentPath(path));
  return WriteBytes(path, bytes);
}

std::string Sha(const std::string& bytes) {
  Hasher hasher(kHashSha256);
  hasher.Update(bytes.data(), bytes.size());
  return hasher.FinishHex();
}

ChunkList ListOf(const std::string& bytes) {
  ChunkHasher hasher;
  hasher.Update(bytes.data(), bytes.size());
  hasher.Finish();
  ChunkList list;
  list.size = bytes.size();
  list.sha256 = Sha(bytes);
  list.chunks = hasher.TakeChunks();
  return list;
}

class ChunkedSyncTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLogDirectory(dir.Join(L"logs")); }

  // The tree as the publisher writes it, plus a chunk list and chunk objects for big.
  void Publish(const std::string& build, bool chunks = true) {
    const std::wstring source = dir.Join(L"source-" + WideFromUtf8(build));
    CreateDirectoryTree(JoinPath(source, L"data"));
    ASSERT_TRUE(WriteBytes(JoinPath(source, L"data\\big.img"), big));
    ASSERT_TRUE(WriteBytes(JoinPath(source, L"small.txt"), "small file\n"));
    // With chunks, the publisher's own lists and chunk objects.
    std::vector<std::string> args = {"game",  Utf8FromWide(source),
                                     "--key", testing_support::SourceFilePath("keys/development.key"),
                                     "--out", Utf8FromWide(cdn),
                                     "--build", build};
    if (!chunks) args.push_back("--no-chunks");
    std::ostringstream out, err;
    ASSERT_EQ(publish::RunPublisher(args, out, err), 0) << err.str();
    if (chunks) {
      ASSERT_TRUE(FileExists(Cdn(ChunkListPath(Sha(big)))));
    }
  }
  void WriteChunks(const ChunkList& list, const std::string& bytes) {
    ASSERT_TRUE(Put(Cdn(ChunkListPath(list.sha256)), WriteChunkList(list)));
    for (const ChunkEntry& chunk : list.chunks) {
      ASSERT_TRUE(Put(Cdn(ChunkObjectPath(chunk.sha256)), testing_support::Gzip(bytes.substr(chunk.offset, chunk.size))));
    }
  }
  std::wstring Cdn(const std::string& path) { return JoinPath(cdn, WideFromUtf8(path)); }

  SyncSnapshot RunSync() {
    GameSync sync;
    sync.SetContentBaseUrl(server.Url(""));
    sync.SetInstallFolder(install);
    sync.Start(SyncMode::Update, false);
    sync.Join();
    return sync.GetSnapshot();
  }
  // Requests since the last call: whole object of big, chunk objects, chunk lists.
  struct Counts {
    size_t whole = 0, chunks = 0, lists = 0;
  };
  Counts Take() {
    Counts c;
    const std::vector<TestRequest> requests = server.Requests();
    for (size_t i = seen; i < requests.size(); ++i) {
      const std::string& target = requests[i].target;
      c.whole += target == "/" + ChunkObjectPath(Sha(big));
      c.chunks += target.find("/game/objects/") == 0 && target != "/" + ChunkObjectPath(Sha(big)) &&
                  target != "/" + ChunkObjectPath(Sha("small file\n"));
      c.lists += target.find("/game/chunks/") == 0;
    }
    seen = requests.size();
    return c;
  }
  std::string Installed() { return ReadBytes(JoinPath(install, L"data\\big.img")); }
  std::wstring Store() { return JoinPath(install, L".talvoreen\\chunks"); }
  size_t LogCount(const std::string& text) {
    const std::string log = ReadBytes(dir.Join(L"logs\\launcher.log"));
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }

  TempDir dir;
  std::wstring cdn = dir.Join(L"cdn");
  std::wstring install = dir.Join(L"install");
  std::string big = Noise(6 << 20, 7);
  size_t seen = 0;
  std::function<bool(const TestRequest&, TestResponse&)> intercept;
  HttpTestServer server{testing_support::FilesUnlessIntercepted(cdn, intercept)};
};

TEST_F(ChunkedSyncTest, ABigFileComesInChunksAndAnUpdateFetchesOnlyWhatChanged) {
  Publish("build-1");
  const size_t chunkCount = ListOf(big).chunks.size();
  ASSERT_GE(chunkCount, 3u);
  SyncSnapshot s = RunSync();
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(Installed(), big);
  Counts c = Take();
  EXPECT_EQ(c.whole, 0u);
  EXPECT_EQ(c.lists, 1u);
  EXPECT_EQ(c.chunks, chunkCount);
  EXPECT_FALSE(DirectoryExists(Store()));

  // A few bytes change in the middle: the player's copy gives every other chunk.
  big.replace(3 << 20, 4096, Noise(4096, 99));
  Publish("build-2");
  s = RunSync();
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(Installed(), big);
  c = Take();
  EXPECT_EQ(c.whole, 0u);
  EXPECT_GE(c.chunks, 1u);
  EXPECT_LE(c.chunks, 2u);
  EXPECT_LT(s.bytesToDownload, big.size() / 2);
}

TEST_F(ChunkedSyncTest, EveryFaultOfListsOrChunksFallsBackToTheWholeObject) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    const char* logged;
  };
  const std::string wholeSha = Sha(big);
  const std::vector<Case> cases = {
      {"no list", [&] { DeleteFileW(Cdn(ChunkListPath(wholeSha)).c_str()); }, "no chunk list"},
      {"server error", [&] {
         intercept = [](const TestRequest& r, TestResponse& out) {
           if (r.target.find("/game/chunks/") != 0) return false;
           out = testing_support::StatusResponse(500);
           return true;
         };
       }, "chunk list not fetched"},
      {"list of another file", [&] {
         ChunkList other = ListOf(Noise(big.size(), 5));
         other.sha256 = wholeSha;
         WriteChunks(other, Noise(big.size(), 5));
       }, "chunks did not make the file"},
      {"list for another size", [&] {
         ChunkList shorter = ListOf(big.substr(0, big.size() - 1));
         shorter.sha256 = wholeSha;
         WriteChunks(shorter, big);
       }, "chunk list of another file"},
      {"wrong chunk", [&] {
         const ChunkEntry second = ListOf(big).chunks[1];
         ASSERT_TRUE(Put(Cdn(ChunkObjectPath(second.sha256)), testing_support::Gzip(std::string(second.size, 'x'))));
       }, "chunk not fetched"},
      {"hostile list", [&] {
         std::string entries;
         for (uint64_t i = 0; i < 30000; ++i) {
           entries += std::string(i ? "," : "") + "{\"offset\":" + std::to_string(i * 64) + ",\"size\":64,\"sha256\":\"" +
                      std::string(64, 'a') + "\"}";
         }
         ASSERT_TRUE(Put(Cdn(ChunkListPath(wholeSha)),
                                "{\"format\":\"talvoreen-chunks-v1\",\"size\":" + std::to_string(big.size()) +
                                    ",\"sha256\":\"" + wholeSha + "\",\"chunker\":{\"name\":\"fastcdc\",\"min\":262144,"
                                    "\"avg\":1048576,\"max\":4194304},\"chunks\":[" + entries + "]}"));
       }, "chunk list refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteTree(install);
    DeleteTree(cdn);
    intercept = nullptr;
    Publish("build-1");
    c.prepare();
    const size_t before = LogCount(c.logged);
    Take();
    const SyncSnapshot s = RunSync();
    ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
    EXPECT_EQ(Installed(), big);
    EXPECT_EQ(Take().whole, 1u);
    EXPECT_EQ(LogCount(c.logged), before + 1);
    EXPECT_FALSE(DirectoryExists(Store()));
  }
}

TEST_F(ChunkedSyncTest, ChunksOfAnInterruptedRunAreKeptAndNotFetchedAgain) {
  Publish("build-1");
  const ChunkList list = ListOf(big);
  // The run ends early: two chunks arrive, the third and the whole object fail.
  const std::string third = "/" + ChunkObjectPath(list.chunks[2].sha256);
  const std::string whole = "/" + ChunkObjectPath(list.sha256);
  intercept = [&](const TestRequest& r, TestResponse& out) {
    if (r.target != third && r.target != whole) return false;
    out = testing_support::StatusResponse(503);
    return true;
  };
  SyncSnapshot s = RunSync();
  ASSERT_EQ(s.status, kSyncFailed);
  EXPECT_FALSE(FileExists(JoinPath(install, L"data\\big.img")));
  // The staging file (never more than the file) and a line for each chunk verified in it.
  const std::wstring store = JoinPath(Store(), WideFromUtf8(list.sha256));
  const std::string journal = ReadBytes(JoinPath(store, L"verified.txt"));
  const size_t kept = std::count(journal.begin(), journal.end(), '\n');
  EXPECT_EQ(kept, list.chunks.size() - 1);
  std::string staged = ReadBytes(JoinPath(store, L"file.part"));
  ASSERT_EQ(staged.size(), big.size());
  // One kept chunk lost its bytes (a power cut before they reached the disk): fetched again.
  staged.replace(std::stoull(journal), 4096, std::string(4096, '\0'));
  ASSERT_TRUE(WriteBytes(JoinPath(store, L"file.part"), staged));
  // A line cut off by a kill counts for nothing.
  ASSERT_TRUE(WriteBytes(JoinPath(store, L"verified.txt"), journal + "0 " + list.chunks[2].sha256.substr(0, 20)));
  Take();

  intercept = nullptr;
  s = RunSync();
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(Installed(), big);
  const Counts c = Take();
  EXPECT_EQ(c.whole, 0u);
  EXPECT_EQ(c.chunks, list.chunks.size() - kept + 1);
  EXPECT_FALSE(DirectoryExists(Store()));

  // A store of a file no longer wanted is cleared by the next run that downloads.
  ASSERT_TRUE(Put(JoinPath(Store(), WideFromUtf8(std::string(64, 'e')) + L"\\chunk"), "old"));
  big.replace(100, 10, "0123456789");
  Publish("build-2");
  ASSERT_EQ(RunSync().status, kSyncUpToDate);
  EXPECT_FALSE(DirectoryExists(Store()));
}

}  // namespace

namespace {

// Serves a file under its ETag with Range and If-Range as a CDN does.
TestResponse RangeResponse(const std::string& bytes, const TestRequest& request) {
  TestResponse response;
  response.headers = {{"ETag", "\"v1\""}};
  const std::string range = request.Header("Range");
  if (range.rfind("bytes=", 0) == 0 && request.Header("If-Range") == "\"v1\"") {
    const size_t first = std::stoull(range.substr(6));
    response.status = 206;
    response.reason = "Partial Content";
    response.headers.push_back({"Content-Range", "bytes " + std::to_string(first) + "-" +
                                                     std::to_string(bytes.size() - 1) + "/" + std::to_string(bytes.size())});
    response.body = bytes.substr(first);
  } else {
    response.body = bytes;
  }
  return response;
}

TEST_F(ChunkedSyncTest, ALargeObjectWithoutAListResumesWhereTheCutRunStopped) {
  big = Noise(17 << 20, 11);  // does not compress: its object passes 16 MiB
  Publish("build-1", false);
  const std::string target = "/" + ChunkObjectPath(Sha(big));
  const std::string object = ReadBytes(Cdn(ChunkObjectPath(Sha(big))));
  ASSERT_GT(object.size(), 16u << 20);
  // The first response is cut half-way; the server then fails until the run gives up.
  int served = 0;
  intercept = [&](const TestRequest& r, TestResponse& out) {
    if (r.target != target) return false;
    if (served++ > 0) {
      out = testing_support::StatusResponse(503);
      return true;
    }
    out = RangeResponse(object, r);
    out.closeAfterBodyBytes = object.size() / 2;
    return true;
  };
  ASSERT_EQ(RunSync().status, kSyncFailed);
  EXPECT_FALSE(FileExists(JoinPath(install, L"data\\big.img")));

  std::vector<std::string> ranges;
  intercept = [&](const TestRequest& r, TestResponse& out) {
    if (r.target != target) return false;
    ranges.push_back(r.Header("Range"));
    out = RangeResponse(object, r);
    return true;
  };
  const SyncSnapshot s = RunSync();
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(Installed(), big);
  ASSERT_EQ(ranges.size(), 1u);
  ASSERT_EQ(ranges[0].rfind("bytes=", 0), 0u);
  EXPECT_GE(std::stoull(ranges[0].substr(6)), object.size() / 2 - 65536);
  EXPECT_FALSE(DirectoryExists(Store()));
  EXPECT_EQ(LogCount("no chunk list"), 2u);
}

}  // namespace
