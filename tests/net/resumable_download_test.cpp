// The resumable download against a loopback server with real Range semantics.
#include <gtest/gtest.h>

#include "base/files.h"
#include "base/format.h"
#include "base/text.h"
#include "net/resumable_download.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using testing_support::HttpTestServer;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::TestRequest;
using testing_support::TestResponse;
using testing_support::WriteBytes;

namespace {

std::string Content(size_t size, char seed = 'a') {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(seed + (i * 7 + i / 251) % 26);
  return text;
}

// A file server that honours Range and If-Range the way an ordinary web server does.
struct RangeServer {
  std::string content = Content(5000);
  std::string etag = "\"v1\"";
  std::string lastModified = "Mon, 01 Jan 2024 00:00:00 GMT";
  std::function<void(TestResponse&, const TestRequest&)> tweak;
  HttpTestServer server{[this](const TestRequest& request) { return Answer(request); }};

  TestResponse Answer(const TestRequest& request) {
    TestResponse r;
    if (!etag.empty()) r.headers.emplace_back("ETag", etag);
    if (!lastModified.empty()) r.headers.emplace_back("Last-Modified", lastModified);
    const std::string range = request.Header("Range");
    const std::string ifRange = request.Header("If-Range");
    unsigned long long from = 0;
    const bool validatorMatches = ifRange.empty() || ifRange == etag || ifRange == lastModified;
    if (!range.empty() && validatorMatches && std::sscanf(range.c_str(), "bytes=%llu-", &from) == 1) {
      if (from >= content.size()) {
        r.status = 416;
        r.reason = "Range Not Satisfiable";
      } else {
        r.status = 206;
        r.reason = "Partial Content";
        r.body = content.substr(from);
        r.headers.emplace_back("Content-Range", "bytes " + std::to_string(from) + "-" +
                                                    std::to_string(content.size() - 1) + "/" +
                                                    std::to_string(content.size()));
      }
    } else {
      r.body = content;
    }
    if (tweak) tweak(r, request);
    return r;
  }
};

struct Download {
  TempDir dir;
  std::wstring final = dir.Join(L"archive.rar");
  std::wstring part = final + L".part";
  std::wstring validator = part + L".validator";
  uint64_t startedTotal = 0, startedDone = 0, progress = 0;
  uint64_t freeBytes = 1ull << 40;
  std::atomic<bool> cancel{false};

  bool Run(const std::wstring& url, std::wstring& error) {
    ResumableDownload d;
    d.url = url;
    d.destinationFolder = dir.Path();
    d.cancel = &cancel;
    d.onStarted = [this](uint64_t total, uint64_t done) {
      startedTotal = total;
      startedDone = done;
    };
    d.onProgress = [this](uint64_t n) { progress += n; };
    d.freeSpace = [this](const std::wstring&, uint64_t& available) {
      available = freeBytes;
      return true;
    };
    return d.Run(part, final, error);
  }
};

TEST(ResumableDownload, FreshDownloadSendsNoRangeAndKeepsTheValidator) {
  RangeServer s;
  Download d;
  std::wstring error;
  ASSERT_TRUE(d.Run(s.server.Url("/gta.rar"), error)) << Utf8FromWide(error);
  EXPECT_EQ(ReadBytes(d.final), s.content);
  EXPECT_FALSE(FileExists(d.part));
  EXPECT_EQ(ReadBytes(d.validator), "\"v1\"");  // stays until the archive is unpacked
  EXPECT_EQ(s.server.Requests()[0].Header("Range"), "");
  EXPECT_EQ(d.startedTotal, 5000u);
  EXPECT_EQ(d.startedDone, 0u);
  EXPECT_EQ(d.progress, 5000u);
}

TEST(ResumableDownload, ResumesAfterTheBytesOnDisk) {
  RangeServer s;
  Download d;
  ASSERT_TRUE(WriteBytes(d.part, s.content.substr(0, 1000)));
  ASSERT_TRUE(WriteBytes(d.validator, "\"v1\""));
  std::wstring error;
  ASSERT_TRUE(d.Run(s.server.Url("/gta.rar"), error)) << Utf8FromWide(error);
  const auto requests = s.server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("Range"), "bytes=1000-");
  EXPECT_EQ(requests[0].Header("If-Range"), "\"v1\"");
  EXPECT_EQ(ReadBytes(d.final), s.content);
  EXPECT_EQ(d.startedDone, 1000u);
  EXPECT_EQ(d.progress, 4000u);
}

TEST(ResumableDownload, ChangedFileOnTheServerIsTakenWhole) {
  RangeServer s;
  s.etag = "\"v2\"";  // If-Range no longer matches: the server sends 200 with everything
  Download d;
  ASSERT_TRUE(WriteBytes(d.part, std::string(1000, 'Z')));
  ASSERT_TRUE(WriteBytes(d.validator, "\"v1\""));
  std::wstring error;
  ASSERT_TRUE(d.Run(s.server.Url("/gta.rar"), error)) << Utf8FromWide(error);
  EXPECT_EQ(ReadBytes(d.final), s.content);  // not stitched from two versions
  EXPECT_EQ(ReadBytes(d.validator), "\"v2\"");
}

TEST(ResumableDownload, RefusedResumptionRestartsOnceWithoutRange) {
  for (const char* variant : {"starts-at-zero", "unparsable", "416", "total-below-offset"}) {
    RangeServer s;
    const std::string v = variant;
    s.tweak = [v](TestResponse& r, const TestRequest& request) {
      if (request.Header("Range").empty()) return;
      if (v == "starts-at-zero") {
        r.headers.back() = {"Content-Range", "bytes 0-4999/5000"};
      } else if (v == "unparsable") {
        r.headers.back() = {"Content-Range", "bytes */5000"};
      } else if (v == "total-below-offset") {
        r.headers.back() = {"Content-Range", "bytes 1000-1009/500"};
      } else {
        r.status = 416;
        r.body.clear();
        r.headers.pop_back();
      }
    };
    Download d;
    ASSERT_TRUE(WriteBytes(d.part, s.content.substr(0, 1000)));
    ASSERT_TRUE(WriteBytes(d.validator, "\"v1\""));
    std::wstring error;
    ASSERT_TRUE(d.Run(s.server.Url("/gta.rar"), error)) << variant << ": " << Utf8FromWide(error);
    const auto requests = s.server.Requests();
    ASSERT_EQ(requests.size(), 2u) << variant;
    EXPECT_EQ(requests[1].Header("Range"), "") << variant;
    EXPECT_EQ(requests[1].Header("If-Range"), "") << variant;
    EXPECT_EQ(ReadBytes(d.final), s.content) << variant;
  }
}

TEST(ResumableDownload, ResumptionRefusedTwiceFails) {
  RangeServer s;
  s.tweak = [](TestResponse& r, const TestRequest&) {
    r.status = 416;
    r.body.clear();
  };
  Download d;
  ASSERT_TRUE(WriteBytes(d.part, s.content.substr(0, 1000)));
  ASSERT_TRUE(WriteBytes(d.validator, "\"v1\""));
  std::wstring error;
  EXPECT_FALSE(d.Run(s.server.Url("/gta.rar"), error));
  EXPECT_EQ(error, L"Sunucu beklenmeyen yanıt verdi (HTTP 416)");
  EXPECT_EQ(s.server.Requests().size(), 2u);
}

TEST(ResumableDownload, ValidatorRules) {
  {  // a part file without a validator is overwritten from the start
    RangeServer s;
    Download d;
    ASSERT_TRUE(WriteBytes(d.part, std::string(1000, 'Z')));
    std::wstring error;
    ASSERT_TRUE(d.Run(s.server.Url("/f"), error));
    EXPECT_EQ(s.server.Requests()[0].Header("Range"), "");
    EXPECT_EQ(ReadBytes(d.final), s.content);
  }
  {  // a weak ETag gives way to Last-Modified
    RangeServer s;
    s.etag = "W/\"weak\"";
    Download d;
    std::wstring error;
    ASSERT_TRUE(d.Run(s.server.Url("/f"), error));
    EXPECT_EQ(ReadBytes(d.validator), s.lastModified);
  }
  {  // neither: the old validator goes, so this download never resumes
    RangeServer s;
    s.etag.clear();
    s.lastModified.clear();
    Download d;
    ASSERT_TRUE(WriteBytes(d.validator, "\"stale\""));
    std::wstring error;
    ASSERT_TRUE(d.Run(s.server.Url("/f"), error));
    EXPECT_FALSE(FileExists(d.validator));
  }
  {  // an oversized validator file counts as none
    RangeServer s;
    Download d;
    ASSERT_TRUE(WriteBytes(d.part, s.content.substr(0, 1000)));
    ASSERT_TRUE(WriteBytes(d.validator, std::string(513, 'v')));
    std::wstring error;
    ASSERT_TRUE(d.Run(s.server.Url("/f"), error));
    EXPECT_EQ(s.server.Requests()[0].Header("Range"), "");
  }
  {  // a validator file that would add a header line is not sent: the download starts afresh
    RangeServer s;
    Download d;
    ASSERT_TRUE(WriteBytes(d.part, s.content.substr(0, 1000)));
    ASSERT_TRUE(WriteBytes(d.validator, "\"v1\"\r\nX-Injected: 1"));
    std::wstring error;
    ASSERT_TRUE(d.Run(s.server.Url("/f"), error));
    EXPECT_EQ(s.server.Requests()[0].Header("Range"), "");
    EXPECT_EQ(s.server.Requests()[0].Header("X-Injected"), "");
    EXPECT_EQ(ReadBytes(d.final), s.content);
  }
  {  // nor is one the server sends outside plain ASCII stored
    RangeServer s;
    s.etag = "\"v\xC3\xA7\"";
    Download d;
    std::wstring error;
    ASSERT_TRUE(d.Run(s.server.Url("/f"), error));
    EXPECT_FALSE(FileExists(d.validator));
  }
}

TEST(ResumableDownload, EndlessBodyStopsAtTheAnnouncedTotal) {
  RangeServer s;
  s.tweak = [](TestResponse& r, const TestRequest&) {
    r.sendContentLength = false;
    r.endlessBody = true;
  };
  Download d;
  ASSERT_TRUE(WriteBytes(d.part, s.content.substr(0, 1000)));
  ASSERT_TRUE(WriteBytes(d.validator, "\"v1\""));
  std::wstring error;
  EXPECT_FALSE(d.Run(s.server.Url("/gta.rar"), error));
  EXPECT_EQ(error, L"Sunucudan gelen yanıt çok büyük");
  EXPECT_LE(ReadBytes(d.part).size(), s.content.size());
  EXPECT_FALSE(FileExists(d.final));
}

TEST(ResumableDownload, FreeSpaceRule) {
  RangeServer s;
  const uint64_t needed = 5000 - 1000 + 4368435456ull;
  {
    Download d;
    ASSERT_TRUE(WriteBytes(d.part, s.content.substr(0, 1000)));
    ASSERT_TRUE(WriteBytes(d.validator, "\"v1\""));
    d.freeBytes = needed;
    std::wstring error;
    EXPECT_TRUE(d.Run(s.server.Url("/f"), error)) << Utf8FromWide(error);
  }
  Download d;
  ASSERT_TRUE(WriteBytes(d.part, s.content.substr(0, 1000)));
  ASSERT_TRUE(WriteBytes(d.validator, "\"v1\""));
  d.freeBytes = needed - 1;
  std::wstring error;
  EXPECT_FALSE(d.Run(s.server.Url("/f"), error));
  EXPECT_EQ(error, L"Diskte yeterli yer yok: 4,1 GB gerekli, 4,1 GB boş");
  EXPECT_EQ(ReadBytes(d.part), s.content.substr(0, 1000));  // nothing lost
}

// A size past any real download would make the free-space sum wrap and the size cap never
// trigger: the request fails before a byte is written, fresh or resumed.
TEST(ResumableDownload, AnnouncedSizesOutOfRangeFailBeforeAnyByteIsWritten) {
  for (const char* size : {"99999999999999999999", "9223372036854775807", "9223372036854775808",
                           "18446744073709551615", "18446744073709551616", "18446744073709551617"}) {
    for (const bool resumed : {false, true}) {
      SCOPED_TRACE(std::string(size) + (resumed ? " in Content-Range" : " in Content-Length"));
      RangeServer s;
      s.tweak = [&](TestResponse& r, const TestRequest&) {
        if (!resumed) r.headers.emplace_back("Content-Length", size);
        for (auto& [name, value] : r.headers) {
          if (name == "Content-Range") value = "bytes 1000-4999/" + std::string(size);
        }
      };
      Download d;
      if (resumed) {
        ASSERT_TRUE(WriteBytes(d.part, s.content.substr(0, 1000)));
        ASSERT_TRUE(WriteBytes(d.validator, "\"v1\""));
      }
      std::wstring error;
      EXPECT_FALSE(d.Run(s.server.Url("/f"), error));
      EXPECT_EQ(error, L"Bağlantı koptu");
      EXPECT_EQ(ReadBytes(d.part), resumed ? s.content.substr(0, 1000) : "");
      EXPECT_EQ(d.progress, 0u);
      EXPECT_FALSE(FileExists(d.final));
    }
  }
  // The largest size in range reaches the space check, which holds for it.
  RangeServer s;
  s.tweak = [](TestResponse& r, const TestRequest&) { r.headers.emplace_back("Content-Length", "1125899906842624"); };
  Download d;
  std::wstring error;
  EXPECT_FALSE(d.Run(s.server.Url("/f"), error));
  EXPECT_EQ(error.rfind(L"Diskte yeterli yer yok: ", 0), 0u) << Utf8FromWide(error);
  EXPECT_EQ(d.progress, 0u);
}

TEST(ResumableDownload, FailuresKeepWhatArrived) {
  RangeServer s;
  s.tweak = [](TestResponse& r, const TestRequest& request) {
    if (request.Header("Range").empty()) r.closeAfterBodyBytes = 3000;
  };
  Download d;
  std::wstring error;
  EXPECT_FALSE(d.Run(s.server.Url("/f"), error));
  EXPECT_TRUE(error == L"İndirme yarıda kesildi, tekrar dene" || error == L"Bağlantı koptu") << Utf8FromWide(error);
  EXPECT_EQ(ReadBytes(d.part), s.content.substr(0, 3000));
  EXPECT_TRUE(FileExists(d.validator));
  // The next attempt continues from the bytes on disk.
  ASSERT_TRUE(d.Run(s.server.Url("/f"), error)) << Utf8FromWide(error);
  EXPECT_EQ(s.server.Requests().back().Header("Range"), "bytes=3000-");
  EXPECT_EQ(ReadBytes(d.final), s.content);
}

// The space check passed, then the disk filled up: the text names the cause (a short write
// once read the error after something had reset it), and what arrived stays for a resume.
TEST(ResumableDownload, ADiskThatFillsUpSaysSo) {
  const std::wstring disk = testing_support::SmallDisk(TALVOREEN_SMALL_DISK);
  if (disk.empty()) GTEST_SKIP() << "no 1 MiB disk mounted at " << TALVOREEN_SMALL_DISK;
  RangeServer s;
  s.content = Content(3u << 20);
  const std::wstring folder = JoinPath(disk, L"download");
  DeleteTree(folder);
  ASSERT_TRUE(CreateDirectoryTree(folder));
  ResumableDownload d;
  d.url = s.server.Url("/gta.rar");
  d.destinationFolder = folder;
  d.freeSpace = [](const std::wstring&, uint64_t& available) {
    available = 1ull << 40;
    return true;
  };
  const std::wstring part = JoinPath(folder, L"archive.rar.part");
  std::wstring error;
  EXPECT_FALSE(d.Run(part, JoinPath(folder, L"archive.rar"), error));
  EXPECT_EQ(Utf8FromWide(error), Utf8FromWide(L"Diske yazılamadı: " + WindowsErrorText(ERROR_DISK_FULL)));
  const std::string kept = ReadBytes(part);
  EXPECT_GT(kept.size(), 0u);
  EXPECT_EQ(kept, s.content.substr(0, kept.size()));
  DeleteTree(folder);
}

TEST(ResumableDownload, StatusesWithoutUsableBody) {
  HttpTestServer server([](const TestRequest& request) {
    TestResponse r;
    if (request.target == "/404") {
      r.status = 404;
    } else {
      r.sendContentLength = false;  // 200 without Content-Length
      r.body = "abc";
    }
    return r;
  });
  Download d;
  std::wstring error;
  EXPECT_FALSE(d.Run(server.Url("/404"), error));
  EXPECT_EQ(error, L"Sunucu hata döndürdü (HTTP 404)");
  EXPECT_FALSE(d.Run(server.Url("/nolength"), error));
  EXPECT_EQ(error, L"Sunucu hata döndürdü (HTTP 200)");
  EXPECT_FALSE(FileExists(d.part));
}

}  // namespace
