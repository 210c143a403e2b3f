// What the publisher's test files share: scratch folders, files, and talvoreen-publish run
// in-process on them.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "manifest/envelope.h"
#include "manifest/manifest.h"
#include "tests/support/signing.h"
#include "tools/publish/fileio.h"
#include "tools/publish/keys.h"
#include "tools/publish/publish.h"

namespace publish_test {

namespace fs = std::filesystem;

class Folder {
 public:
  Folder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() / ("tvpublish-" + std::to_string(stamp) + "-" + std::to_string(++counter));
    fs::create_directories(path_);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path operator/(const std::string& relative) const { return path_ / publish::PathFromUtf8(relative); }
  std::string Text(const std::string& relative = "") const {
    return publish::Utf8FromPath(relative.empty() ? path_ : *this / relative);
  }

 private:
  fs::path path_;
};

inline void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string Read(const fs::path& path) {
  std::string bytes, error;
  publish::ReadFileBytes(path, bytes, error);
  return bytes;
}

struct PublishRun {
  int code = -1;
  std::string out, err;
};

inline PublishRun Publish(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  PublishRun run;
  run.code = publish::RunPublisher(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

inline std::string DevelopmentKeyFile() { return testing_support::SourceFilePath("keys/development.key"); }
inline std::string DevelopmentPublicKey() { return publish::EncodeBase64(testing_support::DevelopmentKey().publicKey); }

inline std::string LastLine(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r')) trimmed.pop_back();
  return trimmed.substr(trimmed.find_last_of('\n') + 1);
}

inline Manifest ReadGameManifest(const Folder& cdn, const std::string& publicKey) {
  std::string payload;
  std::wstring error;
  Manifest manifest;
  EXPECT_TRUE(VerifyEnvelopeWithKey(Read(cdn / "game/stable/manifest.json"), publicKey, payload, error));
  EXPECT_TRUE(ParseGameManifestDocument(payload, manifest, error));
  return manifest;
}

inline void MakeGameSource(const Folder& source) {
  Write(source / "data/a.txt", "hello");
  Write(source / "empty.bin", "");
  Write(source / "config/user.cfg", "volume=3");
  Write(source /
            "veri/\xC5\x9F"
            "ehir \xC4\x9F.txt",
        "utf-8 name");
  std::string big(2621440 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  Write(source / "models/big.img", big);
}

// Every file's bytes under folder, by relative path.
inline std::map<std::string, std::string> TreeBytes(const Folder& folder) {
  std::map<std::string, std::string> bytes;
  const fs::path root = folder / "";
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) bytes[entry.path().lexically_relative(root).generic_u8string()] = Read(entry.path());
  }
  return bytes;
}

// Fixes the clock of the manifests written while it lives, so that runs can be compared byte
// for byte.
class FixedPublishClock {
 public:
  FixedPublishClock() { Set("1796601600"); }
  ~FixedPublishClock() { Set(""); }

 private:
  static void Set(const char* value) {
#ifdef _WIN32
    _putenv_s("SOURCE_DATE_EPOCH", value);
#else
    if (*value) setenv("SOURCE_DATE_EPOCH", value, 1); else unsetenv("SOURCE_DATE_EPOCH");
#endif
  }
};

// size bytes that do not repeat (xorshift64), unlike a short pattern that would make equal chunks.
inline std::string NoiseBytes(size_t size, uint64_t seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
    bytes[i] = static_cast<char>(seed >> 32);
  }
  return bytes;
}

}  // namespace publish_test
