// A list's entries by the file they name (PathIdentity), without a second copy of their paths.
// Pure; holds the list by reference.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "manifest/rules.h"

// A 64-bit key and a position per entry instead of a second copy of every path: the largest
// list has 200,000 paths of up to 240 bytes.
template <class Entry>
class PathIndex {
 public:
  explicit PathIndex(const std::vector<Entry>& entries) : entries_(entries) {
    slots_.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) slots_.push_back({Key(PathIdentity(entries[i].path)), i});
    // By key, then by position: the first entry of a path is met first.
    std::sort(slots_.begin(), slots_.end());
  }

  // The position of the first entry that names the same file as path, or npos.
  size_t Find(const std::string& path) const {
    const std::string identity = PathIdentity(path);
    const uint64_t key = Key(identity);
    for (auto it = std::lower_bound(slots_.begin(), slots_.end(), Slot{key, 0}); it != slots_.end() && it->key == key;
         ++it) {
      const std::string& candidate = entries_[it->index].path;
      if (candidate == path || PathIdentity(candidate) == identity) return it->index;
    }
    return npos;
  }
  const Entry* FindEntry(const std::string& path) const {
    const size_t at = Find(path);
    return at == npos ? nullptr : &entries_[at];
  }

  static constexpr size_t npos = static_cast<size_t>(-1);

 private:
  struct Slot {
    uint64_t key;
    size_t index;
    bool operator<(const Slot& other) const { return key != other.key ? key < other.key : index < other.index; }
  };
  static uint64_t Key(const std::string& identity) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : identity) hash = (hash ^ c) * 1099511628211ull;
    return hash;
  }

  const std::vector<Entry>& entries_;
  std::vector<Slot> slots_;
};
