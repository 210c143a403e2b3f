// Where verify reads a published tree from: a folder, or a CDN or object store over HTTP(S).
// Paths are relative to the tree's root, with "/" between folders. One reader is used by
// several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace publish {

class TreeReader {
 public:
  enum class Result { Found, Missing, Failed };
  // Receives the file's bytes in order; returns false to stop reading.
  using Sink = std::function<bool(const char* data, size_t size)>;

  virtual ~TreeReader() = default;

  // The whole file; Failed when it holds more than maxBytes.
  virtual Result ReadAll(const std::string& relative, uint64_t maxBytes, std::string& bytes, std::string& error) = 0;
  // The file's size without its bytes.
  virtual Result SizeOf(const std::string& relative, uint64_t& size, std::string& error) = 0;
  // The file's bytes through sink; streamed receives how many were handed over.
  virtual Result Stream(const std::string& relative, const Sink& sink, uint64_t& streamed, std::string& error) = 0;
};

std::unique_ptr<TreeReader> MakeFolderReader(const std::filesystem::path& root);

// True for text starting with http:// or https:// (in any letter case).
bool IsHttpUrl(const std::string& text);

// A reader of the tree under baseUrl; null with error on a build without an HTTP client.
std::unique_ptr<TreeReader> MakeHttpReader(const std::string& baseUrl, std::string& error);

}  // namespace publish
