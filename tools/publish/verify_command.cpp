// talvoreen-publish verify: checks a published tree the way the launcher would read it.
#include <set>
#include <system_error>

#include "base/text.h"
#include "manifest/envelope.h"
#include "manifest/manifest.h"
#include "tools/publish/commands.h"
#include "tools/publish/fileio.h"
#include "tools/publish/keys.h"
#include "tools/publish/objects.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

class TreeVerifier {
 public:
  TreeVerifier(fs::path root, std::string publicKey, std::ostream& out)
      : root_(std::move(root)), publicKey_(std::move(publicKey)), out_(out) {}

  // False when the file is missing; problems are counted either way.
  bool ReadManifest(const char* relative, std::string& document) {
    const fs::path path = root_ / PathFromUtf8(relative);
    std::error_code ec;
    if (!fs::exists(path, ec)) return false;
    std::string envelope, error;
    if (!ReadFileBytes(path, envelope, error)) return Problem(error);
    std::wstring verifyError;
    if (!VerifyEnvelopeWithKey(envelope, publicKey_, document, verifyError)) {
      Problem(std::string(relative) + ": " + Narrow(verifyError));
      document.clear();
    }
    return true;
  }

  void CheckObject(const ManifestFile& file, const std::string& what) {
    if (!checked_.insert(file.hash.str() + "/" + std::to_string(file.size) + "/" + std::to_string(file.zsize)).second) return;
    const std::string relative = ObjectPath(file.hash);
    const fs::path object = root_ / PathFromUtf8(relative);
    std::error_code ec;
    const uint64_t zsize = fs::file_size(object, ec);
    if (ec) {
      Problem(what + ": missing object " + relative);
      return;
    }
    if (zsize != file.zsize) {
      Problem(what + ": object " + relative + " has " + std::to_string(zsize) + " bytes, the manifest says " +
              std::to_string(file.zsize));
    }
    std::string sha256, error;
    uint64_t size = 0;
    if (!InflateObject(object, sha256, size, error)) {
      Problem(what + ": " + error);
    } else if (size != file.size || sha256 != file.hash) {
      Problem(what + ": object " + relative + " does not hold the listed content (" + std::to_string(size) +
              " bytes, SHA-256 " + sha256 + ")");
    }
  }

  bool Problem(const std::string& text) {
    out_ << "PROBLEM " << text << "\n";
    ++problems_;
    return true;
  }
  size_t Problems() const { return problems_; }

 private:
  fs::path root_;
  std::string publicKey_;
  std::ostream& out_;
  std::set<std::string> checked_;
  size_t problems_ = 0;
};
}  // namespace

int VerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine line = ParseCommandLine(args, 1, {"--public-key"}, {}, {"--public-key"});
  std::string publicKey, error;
  if (!ReadPublicKeyArgument(line.Value("--public-key"), publicKey, error)) return Fail(err, error);
  TreeVerifier verifier(PathFromUtf8(line.positional[0]), publicKey, out);
  size_t manifests = 0;

  std::string document;
  if (verifier.ReadManifest(kGameManifestPath, document)) {
    ++manifests;
    Manifest manifest;
    std::wstring parseError;
    if (!document.empty() && !ParseGameManifestDocument(document, manifest, parseError)) {
      verifier.Problem(std::string(kGameManifestPath) + ": " + Narrow(parseError));
    } else if (!document.empty()) {
      for (size_t i = 0; i < manifest.files.size(); ++i) {
        verifier.CheckObject(manifest.files[i], manifest.files[i].path);
        if ((i + 1) % 500 == 0) err << "[" << i + 1 << "/" << manifest.files.size() << "] objects checked\n";
      }
      out << "game build " << manifest.build << ": " << manifest.files.size() << " files, " << manifest.totalSize
          << " bytes\n";
    }
  }
  document.clear();
  if (verifier.ReadManifest(kLauncherManifestPath, document)) {
    ++manifests;
    LauncherManifest manifest;
    std::wstring parseError;
    if (!document.empty() && !ParseLauncherManifestDocument(document, manifest, parseError)) {
      verifier.Problem(std::string(kLauncherManifestPath) + ": " + Narrow(parseError));
    } else if (!document.empty()) {
      verifier.CheckObject(manifest.file, "launcher " + manifest.version);
      out << "launcher " << manifest.version << ": " << manifest.file.path.str() << ", " << manifest.file.size << " bytes\n";
    }
  }
  if (manifests == 0) {
    return Fail(err, "neither " + std::string(kGameManifestPath) + " nor " + kLauncherManifestPath + " in " +
                         line.positional[0]);
  }
  if (verifier.Problems() > 0) return Fail(err, "verify: " + std::to_string(verifier.Problems()) + " problem(s)");
  out << "OK: signatures valid, every object present with its size and hash\n";
  return 0;
}
}  // namespace publish
