// Downloading single files and pools of them from a scripted loopback server.
#include <gtest/gtest.h>

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/hex.h>
#include <cryptopp/md5.h>
#include <cryptopp/sha.h>

#include <map>

#include "base/files.h"
#include "base/text.h"
#include "net/http_client.h"
#include "sync/download_urls.h"
#include "sync/download_workers.h"
#include "sync/object_download.h"
#include "tests/support/gzip.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using testing_support::HttpTestServer;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::TestRequest;
using testing_support::TestResponse;
using testing_support::WriteBytes;

using testing_support::Gzip;

namespace {

template <typename Hash>
std::string HexDigest(const std::string& data) {
  std::string hex;
  CryptoPP::StringSource source(data, true, new CryptoPP::HashFilter(*new Hash, new CryptoPP::HexEncoder(new CryptoPP::StringSink(hex), false)));
  return hex;
}


std::string Content(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
  return bytes;
}

ManifestFile GameEntry(const std::string& path, const std::string& content) {
  ManifestFile entry;
  entry.path = path;
  entry.size = content.size();
  entry.hash = HexDigest<CryptoPP::SHA256>(content);
  entry.zsize = Gzip(content).size();
  return entry;
}

ManifestFile ServerEntry(const std::string& path, const std::string& content) {
  ManifestFile entry;
  entry.path = kServerFilesFolder + path;
  entry.serverFile = true;
  entry.size = content.size();
  entry.hash = HexDigest<CryptoPP::Weak::MD5>(content);
  entry.zsize = content.size();
  return entry;
}

// A CDN of gzip objects and a game server of raw files, by URL path.
struct Origin {
  std::map<std::string, TestResponse> files;
  std::function<void(const TestRequest&)> onRequest;
  HttpTestServer server{[this](const TestRequest& request) {
    if (onRequest) onRequest(request);
    auto it = files.find(request.target.substr(0, request.target.find('?')));
    if (it == files.end()) return testing_support::StatusResponse(404, "Not Found");
    return it->second;
  }};

  void AddObject(const ManifestFile& entry, const std::string& gz) {
    TestResponse r;
    r.body = gz;
    files["/game/objects/" + entry.hash.str().substr(0, 2) + "/" + entry.hash.str() + ".gz"] = r;
  }
  void AddRaw(const std::string& path, const std::string& content) {
    TestResponse r;
    r.body = content;
    files["/files/" + PercentEncodePath(path)] = r;
  }
};

struct SyncRun {
  TempDir dir;
  DownloadProgress progress;
  std::atomic<bool> cancel{false};
  DownloadRun run;

  explicit SyncRun(Origin& origin) {
    run.contentBaseUrl = origin.server.Url("");
    run.serverDownloadBaseUrl = origin.server.Url("/files");
    run.rootFolder = dir.Join(L"root");
    run.scratchFolder = dir.Join(L"scratch");
    run.cancel = &cancel;
    run.progress = &progress;
    CreateDirectoryTree(run.rootFolder);
    CreateDirectoryTree(run.scratchFolder);
  }
  bool Download(const ManifestFile& entry, std::wstring& message, bool& unavailable, uint32_t index = 0) {
    HttpClient client;
    return DownloadObject(run, entry, index, client, message, unavailable);
  }
  std::wstring Installed(const std::string& path) { return JoinPath(run.rootFolder, WideFromUtf8(path)); }
  bool ScratchIsEmpty() {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(JoinPath(run.scratchFolder, L"*.part").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return true;
    FindClose(find);
    return false;
  }
};

TEST(DownloadObject, GameObjectIsInflatedVerifiedAndInstalled) {
  Origin origin;
  const std::string content = Content(700000, 1);
  const ManifestFile entry = GameEntry("models/ağaç.img", content);
  const std::string gz = Gzip(content);
  origin.AddObject(entry, gz);
  SyncRun r(origin);
  std::wstring message;
  bool unavailable = true;
  ASSERT_TRUE(r.Download(entry, message, unavailable)) << Utf8FromWide(message);
  EXPECT_FALSE(unavailable);
  EXPECT_EQ(ReadBytes(r.Installed(entry.path)), content);
  EXPECT_EQ(r.progress.Snapshot().bytesDownloaded, gz.size());
  EXPECT_TRUE(r.ScratchIsEmpty());
}

TEST(DownloadObject, GzipEdgeCases) {
  Origin origin;
  SyncRun r(origin);
  std::wstring message;
  bool unavailable = false;

  const std::string content = Content(50000, 2);
  ManifestFile trailing = GameEntry("trailing.bin", content);
  origin.AddObject(trailing, Gzip(content) + "extra bytes after the stream");
  EXPECT_TRUE(r.Download(trailing, message, unavailable)) << Utf8FromWide(message);

  const ManifestFile empty = GameEntry("empty.txt", "");
  origin.AddObject(empty, Gzip(""));
  EXPECT_TRUE(r.Download(empty, message, unavailable)) << Utf8FromWide(message);
  EXPECT_TRUE(FileExists(r.Installed("empty.txt")));
  EXPECT_EQ(ReadBytes(r.Installed("empty.txt")), "");

  const std::string other = Content(60000, 3);
  ManifestFile truncated = GameEntry("truncated.bin", other);
  const std::string gz = Gzip(other);
  origin.AddObject(truncated, gz.substr(0, gz.size() / 2));
  const uint64_t before = r.progress.Snapshot().bytesDownloaded;
  EXPECT_FALSE(r.Download(truncated, message, unavailable));
  EXPECT_EQ(message, L"İndirilen dosya doğrulanamadı: truncated.bin");
  EXPECT_FALSE(unavailable);
  EXPECT_EQ(r.progress.Snapshot().bytesDownloaded, before);  // taken back
  EXPECT_FALSE(FileExists(r.Installed("truncated.bin")));

  ManifestFile larger = GameEntry("larger.bin", other);
  larger.size = 1000;
  origin.AddObject(larger, gz);
  EXPECT_FALSE(r.Download(larger, message, unavailable));
  EXPECT_EQ(message, L"İndirilen dosya beklenenden büyük: larger.bin");
  EXPECT_FALSE(unavailable);

  ManifestFile corrupt = GameEntry("corrupt.bin", other);
  origin.AddObject(corrupt, std::string(gz.size(), 'z'));
  EXPECT_FALSE(r.Download(corrupt, message, unavailable));
  EXPECT_EQ(message, L"İndirilen dosya bozuk: corrupt.bin");

  ManifestFile missing = GameEntry("missing.bin", "not on the server");
  EXPECT_FALSE(r.Download(missing, message, unavailable));
  EXPECT_EQ(message, L"Dosya indirilemedi (HTTP 404): missing.bin");
  EXPECT_FALSE(unavailable);  // game objects are retried
  EXPECT_TRUE(r.ScratchIsEmpty());
}

TEST(DownloadObject, ServerFilesAreRawWithEncodedPathsAndVersions) {
  Origin origin;
  SyncRun r(origin);
  const std::string content = "local x = 1\n";
  const ManifestFile entry = ServerEntry("race/şehir haritası+1.lua", content);
  origin.AddRaw(ServerUrlPath(entry), content);
  std::wstring message;
  bool unavailable = false;
  ASSERT_TRUE(r.Download(entry, message, unavailable)) << Utf8FromWide(message);
  EXPECT_EQ(ReadBytes(r.Installed(entry.path)), content);
  const std::string target = origin.server.Requests().back().target;
  EXPECT_EQ(target, "/files/race/%C5%9Fehir%20haritas%C4%B1%2B1.lua?v=" + entry.hash.str().substr(0, 16));

  for (int status : {403, 404, 410}) {
    TestResponse gone;
    gone.status = status;
    origin.files["/files/gone.lua"] = gone;
    EXPECT_FALSE(r.Download(ServerEntry("gone.lua", "x"), message, unavailable));
    EXPECT_TRUE(unavailable) << status;
    EXPECT_EQ(message, L"Dosya indirilemedi (HTTP " + std::to_wstring(status) + L"): resources/gone.lua");
  }
  TestResponse busy;
  busy.status = 503;
  origin.files["/files/busy.lua"] = busy;
  EXPECT_FALSE(r.Download(ServerEntry("busy.lua", "x"), message, unavailable));
  EXPECT_FALSE(unavailable);

  origin.AddRaw("big.lua", "much longer than announced");
  ManifestFile big = ServerEntry("big.lua", "short");
  EXPECT_FALSE(r.Download(big, message, unavailable));
  EXPECT_TRUE(unavailable);
  EXPECT_EQ(message, L"İndirilen dosya beklenenden büyük: resources/big.lua");

  origin.AddRaw("changed.lua", "12345");
  EXPECT_FALSE(r.Download(ServerEntry("changed.lua", "54321"), message, unavailable));
  EXPECT_TRUE(unavailable);
  EXPECT_EQ(message, L"İndirilen dosya doğrulanamadı: resources/changed.lua");
}

TEST(DownloadObject, ReadOnlyDestinationIsReplaced) {
  Origin origin;
  SyncRun r(origin);
  const ManifestFile entry = GameEntry("data/locked.dat", "new content");
  origin.AddObject(entry, Gzip("new content"));
  CreateDirectoryTree(ParentPath(r.Installed(entry.path)));
  ASSERT_TRUE(WriteBytes(r.Installed(entry.path), "old"));
  SetFileAttributesW(r.Installed(entry.path).c_str(), FILE_ATTRIBUTE_READONLY);
  std::wstring message;
  bool unavailable = false;
  ASSERT_TRUE(r.Download(entry, message, unavailable)) << Utf8FromWide(message);
  EXPECT_EQ(ReadBytes(r.Installed(entry.path)), "new content");
}

TEST(DownloadObject, CancelTakesTheBytesBackAndLeavesNoScratchFile) {
  Origin origin;
  SyncRun r(origin);
  const std::string content = Content(2 * 1024 * 1024, 4);
  const ManifestFile entry = GameEntry("big.bin", content);
  TestResponse response;
  response.body = Gzip(content);
  response.pieces = {300000};
  response.afterPiece = [&r](size_t) { r.cancel = true; };
  origin.files["/game/objects/" + entry.hash.str().substr(0, 2) + "/" + entry.hash.str() + ".gz"] = response;
  std::wstring message;
  bool unavailable = false;
  EXPECT_FALSE(r.Download(entry, message, unavailable));
  EXPECT_EQ(message, L"İptal edildi");
  EXPECT_EQ(r.progress.Snapshot().bytesDownloaded, 0u);
  EXPECT_TRUE(r.ScratchIsEmpty());
  EXPECT_FALSE(FileExists(r.Installed("big.bin")));
}

TEST(DownloadWorkers, DestinationHeldByAnotherProgramFailsAfterThreeAttempts) {
  Origin origin;
  int requests = 0;
  origin.onRequest = [&](const TestRequest&) { ++requests; };
  SyncRun r(origin);
  const ManifestFile entry = GameEntry("Talvoreen.exe", "new executable");
  origin.AddObject(entry, Gzip("new executable"));
  ASSERT_TRUE(WriteBytes(r.Installed(entry.path), "running executable"));

  std::vector<ManifestFile> files = {entry};
  DownloadJob job(r.run, files);
  {
    testing_support::FileHeldElsewhere holder(r.Installed(entry.path));
    ASSERT_TRUE(holder.Holding());
    RunWorkers(job, 16);
  }

  EXPECT_TRUE(job.stop);
  EXPECT_EQ(job.firstError, L"Dosya başka bir program tarafından kullanılıyor: Talvoreen.exe");
  EXPECT_EQ(requests, 3);
  EXPECT_EQ(ReadBytes(r.Installed(entry.path)), "running executable");
  EXPECT_TRUE(r.ScratchIsEmpty());
}

TEST(DownloadWorkers, FirstFailureStopsThePoolAndUnavailableFilesDoNot) {
  Origin origin;
  SyncRun r(origin);
  std::vector<ManifestFile> files;
  for (int i = 0; i < 8; ++i) {
    const std::string content = Content(1000 + i, 10 + i);
    files.push_back(ServerEntry("res/file" + std::to_string(i) + ".lua", content));
    if (i != 3) origin.AddRaw(ServerUrlPath(files.back()), content);  // file 3 answers 404: unavailable
  }
  DownloadJob job(r.run, files);
  r.progress.SetBytesToDownload(8 * 1000);
  RunWorkers(job, 4);
  EXPECT_FALSE(job.stop);
  EXPECT_EQ(job.newState.files.size(), 8u);
  int unavailableCount = 0;
  for (const auto& f : job.newState.files) {
    if (f.unavailable) {
      ++unavailableCount;
      EXPECT_EQ(f.path, "resources/res/file3.lua");
      EXPECT_EQ(f.size, 0u);
    } else {
      EXPECT_GT(f.mtime, 0u);
      EXPECT_EQ(f.size, ReadBytes(r.Installed(f.path)).size());
    }
  }
  EXPECT_EQ(unavailableCount, 1);
  const auto counts = r.progress.Snapshot();
  EXPECT_EQ(counts.filesDownloaded, 7u);
  EXPECT_EQ(counts.filesUnavailable, 1u);
  EXPECT_EQ(counts.bytesToDownload, 8000u - 1003u);
  int file3Requests = 0;
  for (const auto& request : origin.server.Requests()) file3Requests += request.target.find("file3") != std::string::npos;
  EXPECT_EQ(file3Requests, 1);  // not retried

  // A game object that never arrives stops everything with its own message.
  Origin cdn;
  SyncRun g(cdn);
  std::vector<ManifestFile> game;
  for (int i = 0; i < 6; ++i) {
    const std::string content = Content(5000, 40 + i);
    game.push_back(GameEntry("g" + std::to_string(i) + ".bin", content));
    if (i != 0) cdn.AddObject(game.back(), Gzip(content));
  }
  DownloadJob failing(g.run, game);
  RunWorkers(failing, 1);
  EXPECT_TRUE(failing.stop);
  EXPECT_EQ(failing.firstError, L"Dosya indirilemedi (HTTP 404): g0.bin");
  EXPECT_TRUE(failing.newState.files.empty());  // the single worker took no further file
  EXPECT_EQ(cdn.server.Requests().size(), 3u);   // three attempts of the first file
}

TEST(DownloadWorkers, CancelledPoolTakesNoNewFile) {
  Origin origin;
  SyncRun r(origin);
  std::vector<ManifestFile> files;
  for (int i = 0; i < 5; ++i) {
    const std::string content = Content(3000, 70 + i);
    files.push_back(ServerEntry("f" + std::to_string(i), content));
    origin.AddRaw(ServerUrlPath(files.back()), content);
  }
  origin.onRequest = [&](const TestRequest&) { r.cancel = true; };
  DownloadJob job(r.run, files);
  RunWorkers(job, 1);
  EXPECT_EQ(origin.server.Requests().size(), 1u);
}

TEST(DownloadWorkers, PacedRequestsStartAtLeastOneIntervalApart) {
  Origin origin;
  SyncRun r(origin);
  std::vector<ManifestFile> files;
  for (int i = 0; i < 12; ++i) {
    const std::string content = Content(100, 90 + i);
    files.push_back(ServerEntry("p" + std::to_string(i), content));
    origin.AddRaw(ServerUrlPath(files.back()), content);
  }
  DownloadJob job(r.run, files);
  job.pacingIntervalUs = 40000;
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&before);
  RunWorkers(job, 6);
  QueryPerformanceCounter(&after);
  EXPECT_EQ(origin.server.Requests().size(), 12u);
  // Slots are handed out 40 ms apart and no request starts before its slot, so however the
  // machine is loaded the last of twelve cannot start before eleven intervals have passed
  // (a millisecond per interval allowed for the clocks' granularity). Without pacing six
  // workers would be done in a fraction of that.
  const double elapsedUs = (after.QuadPart - before.QuadPart) * 1e6 / frequency.QuadPart;
  EXPECT_GE(elapsedUs, 11 * (40000.0 - 1000.0));
}

}  // namespace
