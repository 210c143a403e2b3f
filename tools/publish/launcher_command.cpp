// talvoreen-publish launcher: the launcher's executable becomes an object and its signed manifest.
#include <json-c/json.h>

#include <system_error>

#include "base/text.h"
#include "manifest/envelope.h"
#include "manifest/json.h"
#include "manifest/manifest.h"
#include "tools/publish/commands.h"
#include "tools/publish/fileio.h"
#include "tools/publish/objects.h"
#include "tools/publish/object_store.h"

namespace fs = std::filesystem;

namespace publish {

int LauncherCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine line =
      ParseCommandLine(args, 1, {"--out", "--key", "--version"}, {"--trust-existing"}, {"--out", "--key", "--version"});
  const fs::path exe = PathFromUtf8(line.positional[0]);
  const fs::path cdnRoot = PathFromUtf8(line.Value("--out"));
  const std::string version = line.Value("--version");
  std::error_code ec;
  if (!fs::is_regular_file(exe, ec)) return Fail(err, "not a file: " + line.positional[0]);
  if (!IsVersionText(version)) return Fail(err, "--version must look like 0.4.22: " + version);
  const uint64_t exeSize = fs::file_size(exe, ec);
  if (ec || exeSize == 0 || exeSize > kMaxLauncherFileSize) {
    return Fail(err, line.positional[0] + ": the launcher accepts 1 byte to 64 MiB, this is " + HumanSize(exeSize));
  }
  SigningKey key;
  std::string error;
  if (!LoadSigningKey(line.Value("--key"), key, error)) return Fail(err, error);

  std::string sha256;
  uint64_t size = 0;
  StoredObject object;
  const std::string name = Utf8FromPath(exe.filename());
  if (!DigestContent(exe, name, sha256, size, error, err) ||
      !StoreObject(exe, cdnRoot, name, line.flags.count("--trust-existing") > 0, sha256, size, object, error, err)) {
    return Fail(err, error);
  }

  JsonPtr root(json_object_new_object());
  json_object_object_add(root.get(), "schema", json_object_new_int(1));
  json_object_object_add(root.get(), "product", JsonText(kLauncherProduct));
  json_object_object_add(root.get(), "version", JsonText(version));
  json_object_object_add(root.get(), "created", JsonText(UtcNow()));
  json_object* file = json_object_new_object();
  json_object_object_add(file, "path", JsonText(name));
  json_object_object_add(file, "size", json_object_new_int64(static_cast<int64_t>(size)));
  json_object_object_add(file, "sha256", JsonText(sha256));
  json_object_object_add(file, "zsize", json_object_new_int64(static_cast<int64_t>(object.zsize)));
  json_object_object_add(root.get(), "file", file);
  const std::string document = JsonDocument(root.get());

  LauncherManifest check;
  std::wstring parseError;
  if (!ParseLauncherManifestDocument(document, check, parseError)) {
    return Fail(err, "the launcher would refuse this manifest: " + Narrow(parseError));
  }
  if (!WriteSignedManifest(key, document, cdnRoot / PathFromUtf8(kLauncherManifestPath), error)) {
    return Fail(err, error);
  }
  out << "Published launcher " << version << ": " << name << ", " << size << " bytes, "
      << (object.created ? "new object of " + std::to_string(object.zsize) + " bytes" : "object already published")
      << ".\n";
  out << "Manifest: " << Utf8FromPath((cdnRoot / PathFromUtf8(kLauncherManifestPath)).make_preferred()) << "\n";
  return 0;
}

}  // namespace publish
