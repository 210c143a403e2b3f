// The folder reader of verify CDN_ROOT.
#include "tools/publish/tree_reader.h"

#include <fstream>
#include <system_error>
#include <vector>

#include "manifest/rules.h"
#include "tools/publish/fileio.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

constexpr size_t kReadSize = 1048576;

class FolderReader : public TreeReader {
 public:
  explicit FolderReader(fs::path root) : root_(std::move(root)) {}

  Result ReadAll(const std::string& relative, uint64_t maxBytes, std::string& bytes, std::string& error) override {
    uint64_t size = 0;
    const Result found = SizeOf(relative, size, error);
    if (found != Result::Found) return found;
    if (size > maxBytes) {
      error = relative + " has " + std::to_string(size) + " bytes, more than the " + std::to_string(maxBytes) +
              " allowed";
      return Result::Failed;
    }
    return ReadFileBytes(root_ / PathFromUtf8(relative), bytes, error) ? Result::Found : Result::Failed;
  }

  Result SizeOf(const std::string& relative, uint64_t& size, std::string& error) override {
    const fs::path path = root_ / PathFromUtf8(relative);
    std::error_code ec;
    if (!fs::exists(path, ec)) return ec ? Fail("cannot read " + relative + ": " + ec.message(), error) : Result::Missing;
    size = fs::file_size(path, ec);
    return ec ? Fail("cannot read the size of " + relative + ": " + ec.message(), error) : Result::Found;
  }

  Result Stream(const std::string& relative, const Sink& sink, uint64_t& streamed, std::string& error) override {
    streamed = 0;
    const fs::path path = root_ / PathFromUtf8(relative);
    std::error_code ec;
    if (!fs::exists(path, ec)) return ec ? Fail("cannot read " + relative + ": " + ec.message(), error) : Result::Missing;
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail("cannot open " + relative, error);
    std::vector<char> buffer(kReadSize);
    while (in) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      const size_t got = static_cast<size_t>(in.gcount());
      if (got == 0) break;
      streamed += got;
      if (!sink(buffer.data(), got)) return Result::Found;
    }
    return in.bad() ? Fail("cannot read " + relative, error) : Result::Found;
  }

 private:
  static Result Fail(const std::string& text, std::string& error) {
    error = text;
    return Result::Failed;
  }

  fs::path root_;
};

}  // namespace

std::unique_ptr<TreeReader> MakeFolderReader(const fs::path& root) { return std::make_unique<FolderReader>(root); }

bool IsHttpUrl(const std::string& text) {
  const std::string lower = AsciiLower(text.substr(0, 8));
  return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

}  // namespace publish
