// Path and hash-text rules shared by the manifests, the state files and the server file
// lists, and by the publishing tool, which refuses what the launcher would refuse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <string>
#include <unordered_map>

// A manifest path relative to the install folder: 1 to 240 bytes, "/" separators, no
// empty, "." or ".." segment, no segment ending in "." or space, no reserved device stem
// (con, prn, aux, nul, com1-9, lpt1-9), no control byte or any of " * : < > ? \ |, and a
// first segment other than ".talvoreen" in any case. Bytes 0x80 and above are allowed when the
// whole path is valid UTF-8: names that are not have no one file they could name.
bool IsSafeRelativePath(const char* text, size_t length);
inline constexpr size_t kMaxSafePathBytes = 240;
inline bool IsSafeRelativePath(const std::string& text) { return IsSafeRelativePath(text.data(), text.size()); }

// Exactly 64 characters, each 0-9 or a-f.
bool IsLowerHex64(const std::string& text);

// A-Z become a-z; every other byte stays.
std::string AsciiLower(std::string text);

// What two paths share exactly when Windows would take them for one file (FileNameKey of
// base/file_name_case.h); a path that is not valid UTF-8 is its own key.
std::string PathIdentity(const std::string& path);

// The files of one list, by PathIdentity. Insert refuses a path that names the same file as an
// earlier one, or a folder of one ("a" after "a/b"), or one of whose folders is an earlier file
// ("a/b" after "a"): no tree can hold both, and a sync would swap them on every run.
class PathSet {
 public:
  bool Insert(const std::string& path);

 private:
  // A tree of identities, one entry per folder or file: the parent's number (4 bytes) and the
  // component's identity. A server's list of 200,000 files under a few folders costs about
  // its file names, not 200,000 full paths.
  struct Entry {
    uint32_t id;
    bool isFile;
  };
  // The set lives only while a list is read, but its entries are hundreds of thousands of
  // small blocks, which a heap keeps for the process once they are freed. Taken a few large
  // blocks at a time, they go back to the system with the set.
  struct Tree {
    std::pmr::monotonic_buffer_resource memory;
    std::pmr::unordered_map<std::pmr::string, Entry> entries{&memory};
    std::pmr::string key;  // a lookup's, reused, outside that memory
  };
  std::unique_ptr<Tree> tree_ = std::make_unique<Tree>();
  uint32_t nextId_ = 1;
};

// Each byte as two lower-case hex digits, high nibble first.
std::string LowerHex(const unsigned char* bytes, size_t length);
