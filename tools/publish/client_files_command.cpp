// talvoreen-publish client-files: the list of a game server's resource files that the launcher
// fetches from the server's own HTTP port.
#include <json-c/json.h>

#include <algorithm>
#include <system_error>

#include "base/text.h"
#include "manifest/json.h"
#include "manifest/manifest.h"
#include "manifest/rules.h"
#include "sync/client_files.h"
#include "tools/publish/commands.h"
#include "tools/publish/fileio.h"
#include "tools/publish/object_store.h"
#include "tools/publish/objects.h"
#include "tools/publish/parallel.h"

namespace fs = std::filesystem;

namespace publish {

int ClientFilesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine line =
      ParseCommandLine(args, 1, {"--out", "--download-url", "--threads", "--dos-threshold", "--jobs"}, {}, {"--out"});
  PhaseClock phases;
  const unsigned jobs = JobsOption(line);
  const fs::path resources = PathFromUtf8(line.positional[0]);
  std::error_code ec;
  if (!fs::is_directory(resources, ec)) return Fail(err, "not a folder: " + line.positional[0]);
  std::string downloadUrl;
  uint64_t threads = 0, dosThreshold = 0;
  if (line.Has("--download-url") && !AcceptHttpDownloadUrl(line.Value("--download-url"), downloadUrl)) {
    return Fail(err,
                "--download-url must be an http:// or https:// address with a host, under 2048 bytes, "
                "without spaces, quotes, <, >, \\, ? or #");
  }
  if (line.Has("--threads") && !ParseNumber(line.Value("--threads"), 0, 1000, threads)) {
    return Fail(err, "--threads must be a number from 0 to 1000");
  }
  if (line.Has("--dos-threshold") && !ParseNumber(line.Value("--dos-threshold"), 0, 100000, dosThreshold)) {
    return Fail(err, "--dos-threshold must be a number from 0 to 100000");
  }

  std::vector<std::string> problems, names;
  for (fs::directory_iterator it(resources, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (it->is_directory(ec)) {
      names.push_back(name);
    } else {
      problems.push_back(name + ": files must be inside a resource folder");
    }
  }
  if (ec) problems.push_back("cannot list " + line.positional[0] + ": " + ec.message());
  std::sort(names.begin(), names.end());

  struct Entry {
    std::string path;  // relative to the resource
    fs::path file;
  };
  std::vector<std::pair<std::string, std::vector<Entry>>> listed;
  std::vector<std::string> localPaths;
  size_t total = 0;
  for (const std::string& name : names) {
    std::vector<Entry> entries;
    for (const std::string& path : ListFiles(resources / PathFromUtf8(name), problems)) {
      entries.push_back({path, resources / PathFromUtf8(name) / PathFromUtf8(path)});
      localPaths.push_back("resources/" + name + "/" + path);
      if (!IsSafeRelativePath(name + "/" + path))
        problems.push_back(name + "/" + path + ": the launcher refuses this path");
    }
    total += entries.size();
    listed.emplace_back(name, std::move(entries));
  }
  CheckPaths(localPaths, problems);
  if (total > kMaxServerFiles) problems.push_back("more than 200000 files; the launcher refuses such a list");
  if (!problems.empty()) return ReportProblems(err, problems, "client-files " + line.positional[0]);

  JsonPtr root(json_object_new_object());
  json_object_object_add(root.get(), "schema", json_object_new_int(1));
  if (!downloadUrl.empty()) json_object_object_add(root.get(), "httpDownloadUrl", JsonText(downloadUrl));
  if (line.Has("--threads"))
    json_object_object_add(root.get(), "httpThreads", json_object_new_int64(static_cast<int64_t>(threads)));
  if (line.Has("--dos-threshold")) {
    json_object_object_add(root.get(), "httpDosThreshold", json_object_new_int64(static_cast<int64_t>(dosThreshold)));
  }
  phases.Lap("listing");
  struct Digested {
    const Entry* entry = nullptr;
    size_t resource = 0;
    std::string md5, error;
    uint64_t size = 0;
    bool ok = false;
  };
  std::vector<Digested> digests;
  json_object* resourceArray = json_object_new_array();
  json_object_object_add(root.get(), "resources", resourceArray);
  std::vector<json_object*> fileArrays;
  for (size_t r = 0; r < listed.size(); ++r) {
    for (const Entry& entry : listed[r].second) {
      digests.emplace_back();
      digests.back().entry = &entry;
      digests.back().resource = r;
    }
    json_object* object = json_object_new_object();
    json_object_object_add(object, "name", JsonText(listed[r].first));
    fileArrays.push_back(json_object_new_array());
    json_object_object_add(object, "files", fileArrays.back());
    json_object_array_add(resourceArray, object);
  }
  uint64_t totalBytes = 0;
  std::string error;
  const auto add = [&](size_t i) {
    Digested& digest = digests[i];
    if (!digest.ok) {
      error = digest.error;
      return false;
    }
    if (digest.size > kMaxGameFileSize) {
      error = listed[digest.resource].first + "/" + digest.entry->path + ": larger than 8 GiB";
      return false;
    }
    json_object* file = json_object_new_object();
    json_object_object_add(file, "path", JsonText(digest.entry->path));
    json_object_object_add(file, "size", json_object_new_int64(static_cast<int64_t>(digest.size)));
    json_object_object_add(file, "md5", JsonText(digest.md5));
    json_object_array_add(fileArrays[digest.resource], file);
    totalBytes += digest.size;
    if ((i + 1) % 1000 == 0) err << "[" << i + 1 << "/" << total << "] files hashed\n";
    digest.md5 = std::string();
    return true;
  };
  const bool digested = ForEachInOrder(
      digests.size(), jobs,
      [&](size_t i) {
        Digested& digest = digests[i];
        digest.ok = DigestFile(digest.entry->file, Digest::Md5, digest.md5, digest.size, digest.error);
      },
      add);
  if (!digested) return Fail(err, error);
  phases.Lap("digests");
  const std::string listText = JsonDocument(root.get());
  if (listText.size() > kMaxClientFilesBytes) {
    return Fail(err, "the list would be " + std::to_string(listText.size()) +
                         " bytes; the launcher reads at most 67108864 (too many files or paths too long)");
  }
  if (!WriteFileAtomically(PathFromUtf8(line.Value("--out")), listText, error)) return Fail(err, error);
  phases.Lap("list");
  err << phases.Text() << " (" << jobs << (jobs == 1 ? " thread" : " threads") << ")\n";
  out << "Listed " << listed.size() << " resources, " << total << " files, " << totalBytes << " bytes ("
      << HumanSize(totalBytes) << ") in " << line.Value("--out") << "\n";
  return 0;
}

}  // namespace publish
