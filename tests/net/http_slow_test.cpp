// Peers that never finish their answer: each request has to end by the platform's receive
// time-out or the watchdog's 40 s, on every path that downloads. They run side by side, so
// the program lasts about as long as its slowest case (a silent server: two tries of 30 s).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "base/files.h"
#include "base/text.h"
#include "manifest/hashing.h"
#include "net/call_helper.h"
#include "net/http_client.h"
#include "net/resumable_download.h"
#include "sync/object_download.h"
#include "tests/support/gzip.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using testing_support::HttpTestServer;
using testing_support::TempDir;
using testing_support::TestRequest;
using testing_support::TestResponse;

namespace {

std::string Sha256Hex(const std::string& data) {
  Hasher hasher(kHashSha256);
  hasher.Update(data.data(), data.size());
  return hasher.FinishHex();
}

enum class Peer { NeverAnswers, HeadersThenNothing, PartOfTheBodyThenNothing };

TestResponse Stalling(Peer peer) {
  TestResponse r;
  r.body = std::string(4096, 'x');
  r.stallBeforeHeaders = peer == Peer::NeverAnswers;
  r.stallAfterBodyBytes = peer == Peer::HeadersThenNothing ? 0 : 100;
  return r;
}

bool IsTimeOutText(const std::wstring& error) {
  return error == L"Sunucu zamanında yanıt vermedi" || error == L"Sunucu 40 saniye boyunca yanıt vermedi";
}

// One request on a thread of its own; records when it ended and what it said.
struct Case {
  Case(std::string caseName, std::function<bool(std::wstring& error)> request)
      : name(std::move(caseName)), run(std::move(request)) {}
  std::string name;
  std::function<bool(std::wstring& error)> run;
  bool ok = true;
  std::wstring error;
  double seconds = 0;
  std::thread thread;

  void Start() {
    thread = std::thread([this] {
      const auto start = std::chrono::steady_clock::now();
      ok = run(error);
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
  }
};

TV_CHILD_ROLE(request_through_proxy) {
  // args: proxy URL, target URL. The normal session goes direct and is refused; the
  // conservative one goes through the proxy (the http_proxy variable), which never answers.
  SetEnvironmentVariableW(L"http_proxy", args.at(0).c_str());
  HttpClient client;
  std::string body;
  std::wstring error;
  const bool ok = client.GetString(args.at(1), body, error, 1000);
  printf("ok=%d compat=%d error=%s\n", ok, client.InCompatibilityMode(), Utf8FromWide(error).c_str());
  return 0;
}

TV_CHILD_ROLE(retry_after_a_call_left_behind) {
  // args: proxy URL, target URL. The normal session goes direct to a target whose answer
  // never ends, so its call is left behind at the verdict; the conservative retry goes
  // through the proxy (the http_proxy variable), which answers.
  SetEnvironmentVariableW(L"http_proxy", args.at(0).c_str());
  HttpClient client;
  std::string body;
  std::wstring error;
  const bool ok = client.GetString(args.at(1), body, error, 1000);
  printf("ok=%d compat=%d left=%u body=%s error=%s\n", ok, client.InCompatibilityMode(), CallHelper::LeftBehind(),
         body.c_str(), Utf8FromWide(error).c_str());
  return 0;
}

// Every peer runs at once, so the program lasts about as long as its slowest case. Peers that
// stall end with a time-out text; peers that are slow in each phase but never silent for 40 s
// in one call are waited for.
TEST(StalledPeers, EachPathEndsByItsTimeOutsSideBySide) {
  HttpTestServer silent([](const TestRequest&) { return Stalling(Peer::NeverAnswers); });
  HttpTestServer headersOnly([](const TestRequest&) { return Stalling(Peer::HeadersThenNothing); });
  const std::string object = std::string(300000, 'o');
  HttpTestServer partOfBody([&](const TestRequest&) {
    TestResponse r = Stalling(Peer::PartOfTheBodyThenNothing);
    r.body = testing_support::Gzip(object);
    return r;
  });
  HttpTestServer proxy([](const TestRequest&) { return Stalling(Peer::NeverAnswers); });
  // 22 s before it takes a request's body, 22 s more before it answers: 44 s in all.
  HttpTestServer slowPhases([](const TestRequest& request) {
    TestResponse r;
    r.body = "took " + std::to_string(request.body.size());
    r.delayBeforeHeadersMs = 22000;
    return r;
  });
  slowPhases.DelayReadingBodies(22000);
  // Its headers never end (a byte a second), which no platform time-out catches.
  HttpTestServer trickling([](const TestRequest&) {
    TestResponse r;
    r.body = "direct";
    r.headByteIntervalMs = 1000;
    r.headers = {{"X-Padding", std::string(200, 'p')}};
    return r;
  });
  HttpTestServer answeringProxy([](const TestRequest&) {
    TestResponse r;
    r.body = "via proxy";
    return r;
  });
  unsigned short closedPort;
  {
    HttpTestServer gone([](const TestRequest&) { return TestResponse(); });
    closedPort = gone.Port();
  }
  TempDir dir;

  auto getString = [](const std::wstring& url) {
    return [url](std::wstring& error) {
      HttpClient client;
      std::string body;
      return client.GetString(url, body, error, 1 << 20);
    };
  };
  auto objectDownload = [&dir](const std::wstring& base, const std::string& content, const std::wstring& folder) {
    return [&dir, base, content, folder](std::wstring& error) {
      DownloadRun run;
      run.contentBaseUrl = base;
      run.rootFolder = dir.Join(folder + L"-root");
      run.scratchFolder = dir.Join(folder + L"-scratch");
      CreateDirectoryTree(run.rootFolder);
      CreateDirectoryTree(run.scratchFolder);
      ManifestFile entry;
      entry.path = "data/file.bin";
      entry.size = content.size();
      entry.hash = Sha256Hex(content);
      HttpClient client;
      bool unavailable = false;
      return DownloadObject(run, entry, 0, client, error, unavailable);
    };
  };
  auto resumable = [&dir](const std::wstring& url) {
    return [&dir, url](std::wstring& error) {
      ResumableDownload d;
      d.url = url;
      d.destinationFolder = dir.Path();
      return d.Run(dir.Join(L"archive.rar.part"), dir.Join(L"archive.rar"), error);
    };
  };
  Case cases[] = {
      {"GetString, never answers", getString(silent.Url("/a"))},
      {"GetString, headers then nothing", getString(headersOnly.Url("/b"))},
      {"GetString, part of the body then nothing", getString(partOfBody.Url("/c"))},
      {"object download, never answers", objectDownload(silent.Url(""), object, L"silent")},
      {"object download, part of the body then nothing", objectDownload(partOfBody.Url(""), object, L"part")},
      {"resumable download, part of the body then nothing", resumable(partOfBody.Url("/gta.rar"))},
      {"headless check, never answers",
       [&](std::wstring& error) {
         const auto r = testing_support::RunProcess(
             testing_support::LauncherExePath(),
             {L"--headless", L"check", L"--dir", dir.Join(L"install"), L"--cdn", silent.Url("/content")});
         const size_t at = r.output.find("\nresult ");
         error = WideFromUtf8(at == std::string::npos ? r.output : r.output.substr(at + 1));
         return r.exitCode == 0;
       }},
      {"proxy that never answers",
       [&](std::wstring& error) {
         const auto r = testing_support::RunChild(
             "request_through_proxy",
             {proxy.Url(""), L"http://127.0.0.1:" + std::to_wstring(closedPort) + L"/x"});
         error = WideFromUtf8(r.output);
         return r.output.rfind("ok=1", 0) == 0;
       }},
      {"POST, 22 s to take the body, 22 s to answer",
       [&](std::wstring& error) {
         HttpClient client;
         const std::string body(32 << 20, 'b');  // beyond what the sockets buffer
         std::string answer;
         const bool ok = client.Request(L"POST", slowPhases.Url("/slow"), {}, body.data(), static_cast<uint32_t>(body.size()),
                                        nullptr,
                                        [&](const uint8_t* data, uint32_t length) {
                                          answer.append(reinterpret_cast<const char*>(data), length);
                                          return true;
                                        },
                                        error);
         if (ok) error = WideFromUtf8(answer);
         return ok;
       }},
      {"conservative retry after a call left behind",
       [&](std::wstring& error) {
         const auto r = testing_support::RunChild("retry_after_a_call_left_behind", {answeringProxy.Url(""), trickling.Url("/t")});
         error = WideFromUtf8(r.output);
         return r.output.rfind("ok=1", 0) == 0;
       }},
  };
  for (Case& c : cases) c.Start();
  for (Case& c : cases) {
    c.thread.join();
    std::printf("%-52s %5.1f s  %s\n", c.name.c_str(), c.seconds, Utf8FromWide(c.error).c_str());
  }
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_FALSE(cases[i].ok);
    EXPECT_TRUE(IsTimeOutText(cases[i].error)) << Utf8FromWide(cases[i].error);
  }
  // What arrived before the stall stays for the next try.
  EXPECT_EQ(testing_support::ReadBytes(dir.Join(L"archive.rar.part")).size(), 100u);

  const std::string check = Utf8FromWide(cases[6].error);
  EXPECT_FALSE(cases[6].ok);
  EXPECT_EQ(check.rfind("result failed", 0), 0u) << check;
  EXPECT_TRUE(check.find("Sunucu zamanında yanıt vermedi") != std::string::npos ||
              check.find("Sunucu 40 saniye boyunca yanıt vermedi") != std::string::npos)
      << check;

  std::string viaProxy = Utf8FromWide(cases[7].error);
  viaProxy = viaProxy.substr(0, viaProxy.find_last_not_of("\r\n") + 1);
  EXPECT_TRUE(viaProxy == "ok=0 compat=0 error=Sunucu zamanında yanıt vermedi" ||
              viaProxy == "ok=0 compat=0 error=Sunucu 40 saniye boyunca yanıt vermedi")
      << viaProxy;
  EXPECT_EQ(proxy.Requests().size(), 1u) << "the proxy was asked";

  // Each blocking call has 40 s of its own: sending the body and waiting for the answer.
  EXPECT_TRUE(cases[8].ok) << Utf8FromWide(cases[8].error);
  EXPECT_EQ(cases[8].error, L"took 33554432");

  const std::string retried = Utf8FromWide(cases[9].error);
  EXPECT_EQ(retried.rfind("ok=1 compat=1 left=1 body=via proxy error=", 0), 0u) << retried;
  EXPECT_EQ(trickling.Requests().size(), 1u);
  EXPECT_EQ(answeringProxy.Requests().size(), 1u);
}

// A call left behind holds a thread until its peer answers or goes. Past a few, a request
// fails at once instead of leaving one more; the count returns to zero as the peers go.
TEST(StalledPeers, CallsLeftBehindAreCappedAndEndWithTheirPeers) {
  // Whatever the test before left behind ends with its peers, which are gone by now.
  ASSERT_TRUE(CallHelper::WaitForLeftBehindAtMost(0, 120000)) << CallHelper::LeftBehind();
  HttpTestServer answered([](const TestRequest&) {
    TestResponse r;
    r.body = "ok";
    return r;
  });
  {
    HttpTestServer silent([](const TestRequest&) { return Stalling(Peer::NeverAnswers); });
    for (uint32_t i = 1; i <= kMaxCallsLeftBehind; ++i) {
      std::atomic<bool> cancel{false};
      std::wstring error;
      std::thread worker([&] {
        HttpClient client;
        std::string body;
        client.GetString(silent.Url("/silent"), body, error, 100, &cancel);
      });
      silent.WaitUntilStalled(static_cast<int>(i));  // the helper is inside the send
      cancel = true;
      worker.join();
      EXPECT_EQ(error, L"İptal edildi");
      EXPECT_EQ(CallHelper::LeftBehind(), i);
    }
    HttpClient client;
    std::string body;
    std::wstring error;
    EXPECT_FALSE(client.GetString(answered.Url("/after-the-cap"), body, error, 100));
    EXPECT_EQ(error, L"Önceki bağlantılar hâlâ yanıt bekliyor, biraz sonra tekrar dene");
    EXPECT_TRUE(answered.Requests().empty());
    EXPECT_EQ(CallHelper::LeftBehind(), kMaxCallsLeftBehind);
  }  // the silent peer drops its connections
  EXPECT_TRUE(CallHelper::WaitForLeftBehindAtMost(0, 120000)) << CallHelper::LeftBehind();
  HttpClient client;
  std::string body;
  std::wstring error;
  EXPECT_TRUE(client.GetString(answered.Url("/recovered"), body, error, 100)) << Utf8FromWide(error);
  EXPECT_EQ(body, "ok");
}

TEST(StalledPeers, EndlessBodyAfterAnObjectIsRefused) {
  const std::string object = std::string(300000, 'o');
  HttpTestServer server([&](const TestRequest&) {
    TestResponse r;
    r.body = testing_support::Gzip(object);
    r.sendContentLength = false;
    r.endlessBody = true;  // junk after a complete gzip member
    return r;
  });
  TempDir dir;
  DownloadRun run;
  run.contentBaseUrl = server.Url("");
  run.rootFolder = dir.Join(L"root");
  run.scratchFolder = dir.Join(L"scratch");
  CreateDirectoryTree(run.rootFolder);
  CreateDirectoryTree(run.scratchFolder);
  ManifestFile entry;
  entry.path = "data/file.bin";
  entry.size = object.size();
  entry.hash = Sha256Hex(object);
  HttpClient client;
  std::wstring message;
  bool unavailable = false;
  EXPECT_FALSE(DownloadObject(run, entry, 0, client, message, unavailable));
  EXPECT_EQ(message, L"İndirilen dosya beklenenden büyük: data/file.bin");
  EXPECT_FALSE(FileExists(JoinPath(run.rootFolder, L"data\\file.bin")));
}

}  // namespace
