// talvoreen-publish verify: checks a published tree the way the launcher would read it, from a
// folder (verify CDN_ROOT) or from the deployed CDN (verify URL), with the same checks: the
// manifests' signatures, every object they list, the chunk lists of large files and every
// chunk object those lists name. Objects are checked on several threads; --sample N hashes N
// random objects in full and checks the rest by their size.
#include <zlib.h>

#include <algorithm>
#include <random>
#include <set>

#include "base/text.h"
#include "manifest/chunking.h"
#include "manifest/envelope.h"
#include "manifest/manifest.h"
#include "tools/publish/commands.h"
#include "tools/publish/fileio.h"
#include "tools/publish/keys.h"
#include "tools/publish/object_store.h"
#include "tools/publish/objects.h"
#include "tools/publish/parallel.h"
#include "tools/publish/tree_reader.h"

namespace publish {

namespace {

constexpr unsigned kRemoteJobs = 8;
constexpr uint64_t kLauncherEnvelopeBytes = 1048576;

struct ObjectCheck {
  std::string what;      // the file it serves, for the message
  std::string relative;  // the object's path in the tree
  std::string sha256;
  uint64_t size = 0;
  uint64_t zsize = 0;
  bool zsizeKnown = false;  // chunk objects are listed without their compressed size
  bool full = true;         // fetched and hashed, or else checked by its size
  // Results, set by the thread that checks it.
  std::vector<std::string> problems;
  uint64_t fetched = 0;
};

// The smallest gzip member is 20 bytes; no deflate stream outgrows zlib's bound by more than
// the gzip wrapper.
bool PlausibleObjectSize(uint64_t zsize, uint64_t size) {
  return zsize >= 20 && zsize <= size + (size >> 12) + (size >> 14) + (size >> 25) + 13 + 32;
}

void CheckInFull(TreeReader& reader, ObjectCheck& check) {
  ObjectInflater inflater;
  std::string error;
  const TreeReader::Result result =
      reader.Stream(check.relative, [&](const char* data, size_t size) { return inflater.Feed(data, size); },
                    check.fetched, error);
  if (result == TreeReader::Result::Missing) {
    check.problems.push_back(check.what + ": missing object " + check.relative);
    return;
  }
  if (result == TreeReader::Result::Failed) {
    check.problems.push_back(check.what + ": " + error);
    return;
  }
  if (check.zsizeKnown && check.fetched != check.zsize) {
    check.problems.push_back(check.what + ": object " + check.relative + " has " + std::to_string(check.fetched) +
                             " bytes, the manifest says " + std::to_string(check.zsize));
  }
  std::string sha256;
  uint64_t size = 0;
  if (!inflater.Finish(sha256, size)) {
    check.problems.push_back(check.what + ": corrupt or cut-off gzip object " + check.relative);
  } else if (size != check.size || sha256 != check.sha256) {
    check.problems.push_back(check.what + ": object " + check.relative + " does not hold the listed content (" +
                             std::to_string(size) + " bytes, SHA-256 " + sha256 + ")");
  }
}

void CheckBySize(TreeReader& reader, ObjectCheck& check) {
  uint64_t zsize = 0;
  std::string error;
  const TreeReader::Result result = reader.SizeOf(check.relative, zsize, error);
  if (result == TreeReader::Result::Missing) {
    check.problems.push_back(check.what + ": missing object " + check.relative);
  } else if (result == TreeReader::Result::Failed) {
    check.problems.push_back(check.what + ": " + error);
  } else if (check.zsizeKnown ? zsize != check.zsize : !PlausibleObjectSize(zsize, check.size)) {
    check.problems.push_back(check.what + ": object " + check.relative + " has " + std::to_string(zsize) +
                             " bytes, " +
                             (check.zsizeKnown ? "the manifest says " + std::to_string(check.zsize)
                                               : "too few or too many for a chunk of " + std::to_string(check.size)));
  }
}

class TreeVerifier {
 public:
  TreeVerifier(TreeReader& reader, std::string publicKey, unsigned jobs, std::ostream& out, std::ostream& err)
      : reader_(reader), publicKey_(std::move(publicKey)), jobs_(jobs), out_(out), err_(err) {}

  // False when the manifest is missing; problems are counted either way.
  bool ReadManifest(const char* relative, uint64_t maxBytes, std::string& document) {
    std::string envelope, error;
    const TreeReader::Result result = reader_.ReadAll(relative, maxBytes, envelope, error);
    if (result == TreeReader::Result::Missing) return false;
    if (result == TreeReader::Result::Failed) return Problem(error);
    std::wstring verifyError;
    if (!VerifyEnvelopeWithKey(envelope, publicKey_, document, verifyError)) {
      Problem(std::string(relative) + ": " + Narrow(verifyError));
      document.clear();
    }
    return true;
  }

  void AddObject(const ManifestFile& file, const std::string& what) {
    if (!listed_.insert(file.hash.str() + "/" + std::to_string(file.size) + "/" + std::to_string(file.zsize)).second) {
      return;
    }
    ObjectCheck check;
    check.what = what;
    check.relative = ObjectPath(file.hash.str());
    check.sha256 = file.hash.str();
    check.size = file.size;
    check.zsize = file.zsize;
    check.zsizeKnown = true;
    hashes_.insert(check.sha256);
    objects_.push_back(std::move(check));
  }

  // Reads the chunk list of every file at or above minFile, when it has one, and adds its
  // chunk objects. A file without a list is served whole, as by a publisher without chunking.
  void AddChunkLists(const std::vector<ManifestFile>& files, uint64_t minFile) {
    std::vector<const ManifestFile*> large;
    std::set<std::string> seen;
    for (const ManifestFile& file : files) {
      if (file.size >= minFile && seen.insert(file.hash.str()).second) large.push_back(&file);
    }
    struct Listed {
      TreeReader::Result result = TreeReader::Result::Missing;
      ChunkList list;
      std::string problem;
    };
    std::vector<Listed> lists(large.size());
    ForEachInOrder(
        large.size(), jobs_,
        [&](size_t i) {
          const ManifestFile& file = *large[i];
          const std::string relative = ChunkListPath(file.hash.str());
          std::string text, error;
          lists[i].result = reader_.ReadAll(relative, kMaxChunkListBytes, text, error);
          std::wstring parseError;
          if (lists[i].result == TreeReader::Result::Failed) {
            lists[i].problem = file.path.str() + ": " + error;
          } else if (lists[i].result == TreeReader::Result::Found) {
            if (!ParseChunkList(text, lists[i].list, parseError)) {
              lists[i].problem = file.path.str() + ": chunk list " + relative + " is refused by the launcher";
            } else if (lists[i].list.sha256 != file.hash.str() || lists[i].list.size != file.size) {
              lists[i].problem = file.path.str() + ": chunk list " + relative + " describes another file (" +
                                 std::to_string(lists[i].list.size) + " bytes, SHA-256 " + lists[i].list.sha256 + ")";
            }
          }
        },
        [&](size_t i) {
          if (!lists[i].problem.empty()) {
            Problem(lists[i].problem);
          } else if (lists[i].result == TreeReader::Result::Found) {
            ++chunkLists_;
            for (const ChunkEntry& chunk : lists[i].list.chunks) AddChunk(chunk, large[i]->path.str());
          }
          return true;
        });
  }

  // Every object in full, or sample of them in full and the rest by size.
  void CheckObjects(bool sampled, size_t sample) {
    if (sampled && sample < objects_.size()) {
      std::vector<size_t> order(objects_.size());
      for (size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::shuffle(order.begin(), order.end(), std::mt19937_64(std::random_device()()));
      for (size_t i = 0; i < order.size(); ++i) objects_[order[i]].full = i < sample;
    }
    const size_t total = objects_.size();
    const size_t step = std::max<size_t>(1, std::min<size_t>(500, total / 50));
    uint64_t fetched = 0;
    ForEachInOrder(
        total, jobs_,
        [&](size_t i) {
          ObjectCheck& check = objects_[i];
          check.full ? CheckInFull(reader_, check) : CheckBySize(reader_, check);
        },
        [&](size_t i) {
          for (const std::string& problem : objects_[i].problems) Problem(problem);
          fetched += objects_[i].fetched;
          if ((i + 1) % step == 0 || i + 1 == total) {
            err_ << "[" << i + 1 << "/" << total << "] objects checked, " << HumanSize(fetched) << " fetched, "
                 << problems_ << " problem(s)\n";
          }
          return true;
        });
  }

  bool Problem(const std::string& text) {
    out_ << "PROBLEM " << text << "\n";
    ++problems_;
    return true;
  }
  size_t Problems() const { return problems_; }
  size_t ChunkLists() const { return chunkLists_; }
  size_t Objects() const { return objects_.size(); }
  size_t InFull() const {
    return static_cast<size_t>(std::count_if(objects_.begin(), objects_.end(), [](const ObjectCheck& c) { return c.full; }));
  }

 private:
  void AddChunk(const ChunkEntry& chunk, const std::string& path) {
    if (!hashes_.insert(chunk.sha256).second) return;
    ObjectCheck check;
    check.what = path + " (chunk at " + std::to_string(chunk.offset) + ")";
    check.relative = ChunkObjectPath(chunk.sha256);
    check.sha256 = chunk.sha256;
    check.size = chunk.size;
    objects_.push_back(std::move(check));
  }

  TreeReader& reader_;
  std::string publicKey_;
  unsigned jobs_;
  std::ostream& out_;
  std::ostream& err_;
  std::set<std::string> listed_, hashes_;
  std::vector<ObjectCheck> objects_;
  size_t problems_ = 0, chunkLists_ = 0;
};

}  // namespace

int VerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine line =
      ParseCommandLine(args, 1, {"--public-key", "--sample", "--jobs", "--chunk-min-file"}, {}, {"--public-key"});
  const std::string& target = line.positional[0];
  const bool remote = IsHttpUrl(target);
  uint64_t sample = 0, chunkMinFile = kChunkMinFileSize;
  if (line.Has("--sample") && !ParseNumber(line.Value("--sample"), 0, 1000000000, sample)) {
    throw UsageError("--sample must be a number from 0 to 1000000000");
  }
  if (line.Has("--chunk-min-file") && !ParseNumber(line.Value("--chunk-min-file"), 1, kMaxGameFileSize, chunkMinFile)) {
    throw UsageError("--chunk-min-file must be a number of bytes from 1 to 8589934592");
  }
  const unsigned jobs = line.Has("--jobs") || !remote ? JobsOption(line) : kRemoteJobs;
  std::string publicKey, error;
  if (!ReadPublicKeyArgument(line.Value("--public-key"), publicKey, error)) return Fail(err, error);
  std::unique_ptr<TreeReader> reader = remote ? MakeHttpReader(target, error) : MakeFolderReader(PathFromUtf8(target));
  if (!reader) return Fail(err, error);
  TreeVerifier verifier(*reader, publicKey, jobs, out, err);
  size_t manifests = 0;

  std::string document;
  if (verifier.ReadManifest(kGameManifestPath, kMaxGameEnvelopeBytes, document)) {
    ++manifests;
    Manifest manifest;
    std::wstring parseError;
    if (!document.empty() && !ParseGameManifestDocument(document, manifest, parseError)) {
      verifier.Problem(std::string(kGameManifestPath) + ": " + Narrow(parseError));
    } else if (!document.empty()) {
      for (const ManifestFile& file : manifest.files) verifier.AddObject(file, file.path.str());
      verifier.AddChunkLists(manifest.files, chunkMinFile);
      out << "game build " << manifest.build << ": " << manifest.files.size() << " files, " << manifest.totalSize
          << " bytes; " << verifier.ChunkLists() << " chunk list(s)\n";
    }
  }
  document.clear();
  if (verifier.ReadManifest(kLauncherManifestPath, kLauncherEnvelopeBytes, document)) {
    ++manifests;
    LauncherManifest manifest;
    std::wstring parseError;
    if (!document.empty() && !ParseLauncherManifestDocument(document, manifest, parseError)) {
      verifier.Problem(std::string(kLauncherManifestPath) + ": " + Narrow(parseError));
    } else if (!document.empty()) {
      verifier.AddObject(manifest.file, "launcher " + manifest.version);
      out << "launcher " << manifest.version << ": " << manifest.file.path.str() << ", " << manifest.file.size
          << " bytes\n";
    }
  }
  if (manifests == 0) {
    return Fail(err, "neither " + std::string(kGameManifestPath) + " nor " + kLauncherManifestPath + " in " + target);
  }
  verifier.CheckObjects(line.Has("--sample"), static_cast<size_t>(sample));
  if (verifier.Problems() > 0) return Fail(err, "verify: " + std::to_string(verifier.Problems()) + " problem(s)");
  const size_t full = verifier.InFull();
  if (full == verifier.Objects()) {
    out << "OK: signatures valid, every object present with its size and hash\n";
  } else {
    out << "OK: signatures valid, " << full << " random object(s) hashed in full, the other "
        << verifier.Objects() - full << " present with a plausible size\n";
  }
  return 0;
}

}  // namespace publish
