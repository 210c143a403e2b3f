// verify URL against a published tree served over real HTTP on 127.0.0.1: python3's own file
// server as a child process, whose folder the tests damage between runs.
#include <gtest/gtest.h>

#include "manifest/chunking.h"
#include "tests/publish/publish_test_support.h"
#include "tools/publish/objects.h"

#ifndef _WIN32
#include <signal.h>

#include <cstdio>
#endif

namespace {

using namespace publish_test;

#ifndef _WIN32

// argv[1] the folder, argv[2] "plain" or "no-length": HEAD answered without Content-Length
// and a one-byte Range answered with 206, so that sizes are learnt from Content-Range.
constexpr char kServer[] = R"(
import functools, http.server, os, sys
class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args): pass
    def end_headers(self):
        if sys.argv[2] == "no-length" and self.command == "HEAD":
            self._headers_buffer = [h for h in self._headers_buffer if not h.lower().startswith(b"content-length")]
        super().end_headers()
    def do_GET(self):
        path = self.translate_path(self.path)
        if sys.argv[2] == "no-length" and self.headers.get("Range") == "bytes=0-0" and os.path.isfile(path):
            with open(path, "rb") as f: first = f.read(1)
            self.send_response(206)
            self.send_header("Content-Range", "bytes 0-0/%d" % os.path.getsize(path))
            self.send_header("Content-Length", "1")
            self.end_headers()
            self.wfile.write(first)
            return
        super().do_GET()
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=sys.argv[1]))
print(server.server_address[1], os.getpid(), flush=True)
server.serve_forever()
)";

// The server runs until the object goes; its first line gives its port and process id.
class LoopbackFileServer {
 public:
  LoopbackFileServer(const Folder& root, const std::string& mode) {
    const std::string command = "exec python3 -c '" + std::string(kServer) + "' '" + root.Text() + "' " + mode;
    pipe_ = popen(command.c_str(), "r");
    if (pipe_ && std::fscanf(pipe_, "%u %d", &port_, &pid_) != 2) port_ = 0;
  }
  ~LoopbackFileServer() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    if (pipe_) pclose(pipe_);
  }
  bool Running() const { return port_ != 0; }
  std::string Url(const std::string& path = "/") const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  FILE* pipe_ = nullptr;
  unsigned port_ = 0;
  int pid_ = -1;
};

// The PROBLEM lines of a run.
std::string Problems(const std::string& out) {
  std::istringstream lines(out);
  std::string line, kept;
  while (std::getline(lines, line)) {
    if (line.rfind("PROBLEM ", 0) == 0) kept += line + "\n";
  }
  return kept;
}

TEST(PublishRemoteVerify, FindsWhatTheFolderCheckFindsOverHttp) {
  Folder source, cdn;
  MakeGameSource(source);
  Write(source / "models/big.img", NoiseBytes(2621440 + 17, 5));
  ASSERT_EQ(Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build", "b",
                     "--chunk-min-file", "1048576"})
                .code,
            0);
  const Manifest manifest = ReadGameManifest(cdn, DevelopmentPublicKey());
  ASSERT_EQ(manifest.files[3].path, "models/big.img");
  const fs::path big = cdn / publish::ObjectPath(manifest.files[3].hash);
  const fs::path small = cdn / publish::ObjectPath(manifest.files[1].hash);
  const fs::path signedManifest = cdn / "game/stable/manifest.json";
  const fs::path chunkList = cdn / ChunkListPath(manifest.files[3].hash);
  ChunkList list;
  std::wstring listError;
  ASSERT_TRUE(ParseChunkList(Read(chunkList), list, listError));
  ASSERT_GE(list.chunks.size(), 2u);
  const fs::path chunk = cdn / ChunkObjectPath(list.chunks[1].sha256);
  const std::string bigBytes = Read(big), smallBytes = Read(small), manifestBytes = Read(signedManifest);
  const std::string listBytes = Read(chunkList), chunkBytes = Read(chunk);
  const std::string objects = std::to_string(5 + list.chunks.size());
  const std::string otherKey = [] {
    Folder keys;
    return LastLine(Publish({"keygen", keys.Text("k")}).out);
  }();

  struct Case {
    const char* name;
    std::function<void()> damage;
    std::vector<std::string> options;
    int code;
    std::string needle;
    bool sameAsFolder;  // the folder check prints the same PROBLEM lines
  };
  const std::vector<Case> cases = {
      {"intact", [] {}, {}, 0, "every object present with its size and hash", true},
      {"intact, sizes only", [] {}, {"--sample", "0"}, 0, "0 random object(s) hashed in full, the other " + objects,
       false},
      {"intact, two sampled", [] {}, {"--sample", "2"}, 0, "2 random object(s) hashed in full", false},
      {"truncated object", [&] { Write(big, bigBytes.substr(0, bigBytes.size() - 100)); }, {}, 1, "cut-off", true},
      {"truncated object, sizes only", [&] { Write(big, bigBytes.substr(0, bigBytes.size() - 100)); },
       {"--sample", "0"}, 1, "the manifest says", false},
      {"truncated object, sampled in full", [&] { Write(big, bigBytes.substr(0, bigBytes.size() - 100)); },
       {"--sample", "1000", "--jobs", "2"}, 1, "cut-off", true},
      {"same size, other bytes", [&] { Write(big, std::string(bigBytes).replace(bigBytes.size() / 2, 3, "xyz")); },
       {}, 1, "models/big.img", true},
      {"missing object", [&] { fs::remove(small); }, {}, 1, "missing object", true},
      {"missing object, sizes only", [&] { fs::remove(small); }, {"--sample", "0"}, 1, "missing object", true},
      {"chunk list refused", [&] { Write(chunkList, listBytes.substr(1)); }, {}, 1, "is refused by the launcher", true},
      {"chunk object missing", [&] { fs::remove(chunk); }, {"--sample", "0"}, 1, "(chunk at ", true},
      {"chunk object cut off", [&] { Write(chunk, chunkBytes.substr(0, chunkBytes.size() - 1)); }, {}, 1,
       "cut-off gzip object " + ChunkObjectPath(list.chunks[1].sha256), true},
      {"chunk object cut short, sizes only", [&] { Write(chunk, chunkBytes.substr(0, 10)); }, {"--sample", "0"}, 1,
       "too few or too many for a chunk", false},
      {"signed by another key", [] {}, {"--other-key"}, 1, "PROBLEM game",
       true},
      {"manifest cut off", [&] { Write(signedManifest, manifestBytes.substr(0, 200)); }, {}, 1, "PROBLEM game", true},
  };
  for (const char* mode : {"plain", "no-length"}) {
    LoopbackFileServer server(cdn, mode);
    ASSERT_TRUE(server.Running());
    for (const Case& c : cases) {
      Write(big, bigBytes);
      Write(small, smallBytes);
      Write(signedManifest, manifestBytes);
      Write(chunkList, listBytes);
      Write(chunk, chunkBytes);
      c.damage();
      std::vector<std::string> options = c.options;
      std::string key = DevelopmentPublicKey();
      if (!options.empty() && options[0] == "--other-key") key = otherKey, options.clear();
      std::vector<std::string> remote = {"verify", server.Url(), "--public-key", key, "--chunk-min-file", "1048576"};
      remote.insert(remote.end(), options.begin(), options.end());
      const PublishRun run = Publish(remote);
      EXPECT_EQ(run.code, c.code) << mode << ": " << c.name << "\n" << run.out << run.err;
      EXPECT_NE(run.out.find(c.needle), std::string::npos) << mode << ": " << c.name << "\n" << run.out;
      if (c.code == 0) {
        EXPECT_NE(run.err.find("[" + objects + "/" + objects + "] objects checked"), std::string::npos) << run.err;
      }
      if (c.sameAsFolder) {
        const PublishRun folder =
            Publish({"verify", cdn.Text(), "--public-key", key, "--chunk-min-file", "1048576"});
        EXPECT_EQ(Problems(run.out), Problems(folder.out)) << mode << ": " << c.name;
        EXPECT_EQ(folder.code, c.code) << c.name;
      }
    }
  }
  const PublishRun nobody = Publish({"verify", "http://127.0.0.1:1/cdn", "--public-key", DevelopmentPublicKey()});
  EXPECT_EQ(nobody.code, 1);
  EXPECT_NE(nobody.out.find("PROBLEM cannot fetch game/stable/manifest.json"), std::string::npos) << nobody.out;
}

#else

TEST(PublishRemoteVerify, SaysThisBuildCannotReadUrls) {
  const PublishRun run = Publish({"verify", "https://cdn.example.org/", "--public-key", DevelopmentPublicKey()});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("not supported on this build"), std::string::npos) << run.err;
}

#endif

}  // namespace
