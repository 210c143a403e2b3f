// talvoreen-publish: the usage, keygen and the dispatch to the commands (one file each).
#include "tools/publish/publish.h"

#include <exception>

#include "tools/publish/commands.h"
#include "tools/publish/fileio.h"
#include "tools/publish/keys.h"

namespace publish {

namespace {

constexpr char kUsage[] =
    "usage:\n"
    "  talvoreen-publish keygen KEYFILE\n"
    "  talvoreen-publish game SOURCE_FOLDER --out CDN_ROOT --key KEYFILE --build ID\n"
    "                    [--min-launcher-version V] [--optional] [--keep PATTERN]... [--trust-existing]\n"
    "                    [--jobs N] [--chunk-min-file BYTES] [--no-chunks]\n"
    "  talvoreen-publish launcher EXE --out CDN_ROOT --key KEYFILE --version V [--trust-existing]\n"
    "  talvoreen-publish client-files RESOURCES_FOLDER --out FILE [--download-url URL]\n"
    "                    [--threads N] [--dos-threshold N] [--jobs N]\n"
    "  talvoreen-publish verify CDN_ROOT|URL --public-key KEY [--sample N] [--jobs N] [--chunk-min-file BYTES]\n";

// ---- keygen ----------------------------------------------------------------------------

int KeygenCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine line = ParseCommandLine(args, 1, {}, {}, {});
  SigningKey key;
  std::string error;
  if (!GenerateSigningKey(key, error)) return Fail(err, error);
  if (!CreateOwnerOnlyFile(PathFromUtf8(line.positional[0]), EncodePrivateKeyPem(key), error)) return Fail(err, error);
  out << "Private key written to " << line.positional[0] << " (readable by its owner only; keep it secret).\n";
  out << "Public key, for TALVOREEN_SIGNING_PUBLIC_KEY and verify --public-key:\n";
  out << EncodeBase64(key.publicKey) << "\n";
  return 0;
}

}  // namespace

// ---- Dispatch --------------------------------------------------------------------------

int RunPublisher(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    (args.empty() ? err : out) << kUsage;
    return args.empty() ? 2 : 0;
  }
  try {
    if (args[0] == "keygen") return KeygenCommand(args, out, err);
    if (args[0] == "game") return GameCommand(args, out, err);
    if (args[0] == "launcher") return LauncherCommand(args, out, err);
    if (args[0] == "client-files") return ClientFilesCommand(args, out, err);
    if (args[0] == "verify") return VerifyCommand(args, out, err);
    err << "talvoreen-publish: unknown command " << args[0] << "\n" << kUsage;
    return 2;
  } catch (const UsageError& e) {
    err << "talvoreen-publish: " << e.Text() << "\n" << kUsage;
    return 2;
  } catch (const std::exception& e) {
    return Fail(err, std::string("failed: ") + e.what());
  }
}

}  // namespace publish
