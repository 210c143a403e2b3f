#include "tools/publish/object_store.h"

#include <cstdio>
#include <map>
#include <sstream>
#include <system_error>

#include "tools/publish/fileio.h"
#include "tools/publish/objects.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

constexpr uint64_t kLargeFile = 268435456;  // progress lines inside files from 256 MiB on

}  // namespace

std::string HumanSize(uint64_t bytes) {
  char text[64];
  if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof(text), "%llu bytes", static_cast<unsigned long long>(bytes));
  } else {
    std::snprintf(text, sizeof(text), "%.1f MiB", static_cast<double>(bytes) / 1048576.0);
  }
  return text;
}

bool DigestContent(const fs::path& file, const std::string& label, std::string& sha256, uint64_t& size,
                   std::string& error, std::ostream& err) {
  const ByteProgress progress = [&](uint64_t done) {
    if (done % kLargeFile == 0) err << "    " << label << ": " << HumanSize(done) << " hashed\n";
  };
  return DigestFile(file, Digest::Sha256, sha256, size, error, progress);
}

namespace {

// True when the object of this content already exists and may be kept (see StoreObject).
bool ReuseObject(const fs::path& target, const std::string& label, bool trustExisting, const std::string& sha256,
                 uint64_t size, StoredObject& object, std::string& error, std::ostream& err) {
  std::error_code ec;
  if (!fs::is_regular_file(target, ec)) return false;
  std::string existingHash, inflateError;
  uint64_t existingSize = 0;
  if (trustExisting ||
      (InflateObject(target, existingHash, existingSize, inflateError) && existingHash == sha256 &&
       existingSize == size)) {
    object.zsize = fs::file_size(target, ec);
    object.created = false;
    if (ec) error = "cannot read the size of " + Utf8FromPath(target);
    return true;
  }
  err << "    " << label << ": the existing object " << ObjectPath(sha256)
      << " does not hold this file; it is written again\n";
  return false;
}

}  // namespace

bool StoreObject(const fs::path& file, const fs::path& cdnRoot, const std::string& label, bool trustExisting,
                 const std::string& sha256, uint64_t size, StoredObject& object, std::string& error,
                 std::ostream& err) {
  const fs::path target = cdnRoot / PathFromUtf8(ObjectPath(sha256));
  if (ReuseObject(target, label, trustExisting, sha256, size, object, error, err)) return error.empty();
  object.created = true;
  return WriteGzipObject(file, target, sha256, object.zsize, error);
}

bool StoreChunkedFile(const fs::path& file, const fs::path& cdnRoot, const std::string& label, bool trustExisting,
                      unsigned helpers, ObjectClaims& claims, PublishedFile& published, std::string& error,
                      std::ostream& err) {
  const fs::path target = cdnRoot / PathFromUtf8(ObjectPath(published.sha256));
  if (ReuseObject(target, label, trustExisting, published.sha256, published.size, published.object, error, err)) {
    return error.empty() && StoreChunks(file, cdnRoot, trustExisting, published.sha256, published.size, claims,
                                        published.chunks, error, helpers);
  }
  published.object.created = true;
  return StoreChunks(file, cdnRoot, trustExisting, published.sha256, published.size, claims, published.chunks, error,
                     helpers, &target, &published.object.zsize);
}

bool PublishFiles(const std::vector<fs::path>& files, const std::vector<std::string>& labels, const fs::path& cdnRoot,
                  bool trustExisting, const ChunkOptions& chunking, unsigned jobs, std::vector<PublishedFile>& published,
                  const std::function<bool(size_t)>& report, std::string& error, std::ostream& err,
                  PhaseClock& phases) {
  struct Outcome {
    bool ok = false;
    std::string error, log;
  };
  published.assign(files.size(), PublishedFile());
  std::vector<Outcome> outcomes(files.size());
  const auto settle = [&](size_t i) {
    err << outcomes[i].log;
    if (!outcomes[i].ok) error = outcomes[i].error;
    outcomes[i] = Outcome();
    return error.empty();
  };
  const bool digested = ForEachInOrder(
      files.size(), jobs,
      [&](size_t i) {
        std::ostringstream log;
        outcomes[i].ok = DigestContent(files[i], labels[i], published[i].sha256, published[i].size,
                                       outcomes[i].error, log);
        outcomes[i].log = log.str();
      },
      settle);
  phases.Lap("digests");
  if (!digested) return false;

  std::map<std::string, size_t> first;  // content -> the file that stores its object
  std::vector<size_t> owners;
  ObjectClaims claims;  // whole files first: their owners write them, never a chunk's thread
  for (size_t i = 0; i < files.size(); ++i) {
    if (first.emplace(published[i].sha256, i).second) owners.push_back(i), claims.Claim(published[i].sha256);
  }
  // A file whose content an earlier file stores is settled once that file is.
  size_t reported = 0;
  const auto reportUpTo = [&](size_t end) {
    for (; reported < end; ++reported) {
      const size_t owner = first[published[reported].sha256];
      if (owner != reported) {
        published[reported].object = {published[owner].object.zsize, false};
        published[reported].chunked = published[owner].chunked;
        published[reported].chunks = {published[owner].chunks.chunks, 0, 0};
      }
      if (!report(reported)) return false;
    }
    return true;
  };
  // Fewer files than threads: the threads left over share out the chunks of each.
  const unsigned helpers =
      owners.empty() || owners.size() >= jobs ? 1u : jobs / static_cast<unsigned>(owners.size());
  const bool stored = ForEachInOrder(
      owners.size(), jobs,
      [&](size_t n) {
        const size_t i = owners[n];
        PublishedFile& file = published[i];
        std::ostringstream log;
        file.chunked = chunking.enabled && file.size >= chunking.minFile;
        outcomes[i].ok = file.chunked ? StoreChunkedFile(files[i], cdnRoot, labels[i], trustExisting, helpers, claims,
                                                         file, outcomes[i].error, log)
                                      : StoreObject(files[i], cdnRoot, labels[i], trustExisting, file.sha256,
                                                    file.size, file.object, outcomes[i].error, log);
        outcomes[i].log = log.str();
      },
      [&](size_t n) { return reportUpTo(owners[n]) && settle(owners[n]) && reportUpTo(owners[n] + 1); });
  const bool complete = stored && reportUpTo(files.size());
  phases.Lap("objects");
  return complete;
}

}  // namespace publish
