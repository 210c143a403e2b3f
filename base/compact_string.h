// Text behind one pointer, for the fields of which a list holds hundreds of thousands: a file
// entry's path and hash. A std::string costs 24 bytes here before its text; this costs 4. Paths
// made through FolderSharing also share the text of their folder with the paths before them
// in the same folder, and a text of lower-case hex digits (a hash) is held as the bytes they
// spell, half its length: the largest server list has 200,000 paths of up to 240 bytes, nearly
// all of it folder names, and as many hashes, and a 32-bit process cannot hold that several
// times over.
// Pure; immutable once made, so copies may be read and dropped from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>

class CompactString {
 public:
  CompactString() = default;
  CompactString(std::string_view text) : rep_(Make(nullptr, text)) {}  // NOLINT: stands in for a std::string
  CompactString(const std::string& text) : CompactString(std::string_view(text)) {}  // NOLINT
  CompactString(const char* text) : CompactString(std::string_view(text)) {}  // NOLINT
  CompactString(const CompactString& other);
  CompactString(CompactString&& other) noexcept : rep_(other.rep_) { other.rep_ = nullptr; }
  CompactString& operator=(const CompactString& other);
  CompactString& operator=(CompactString&& other) noexcept;
  ~CompactString();

  size_t size() const;
  bool empty() const { return rep_ == nullptr; }
  std::string str() const;
  operator std::string() const { return str(); }  // NOLINT: callers take paths as std::string
  void AppendTo(std::string& out) const;
  bool Equals(std::string_view text) const;
  int Compare(const CompactString& other) const;  // as std::string::compare
  // The text is the first followed by the second (a shared folder and the rest). A text held
  // as hex bytes is spelt out into scratch.
  std::pair<std::string_view, std::string_view> Pieces(std::string& scratch) const;

  friend bool operator==(const CompactString& a, const CompactString& b);
  friend bool operator==(const CompactString& a, const std::string& b) { return a.Equals(b); }
  friend bool operator==(const std::string& a, const CompactString& b) { return b.Equals(a); }
  friend bool operator==(const CompactString& a, const char* b) { return a.Equals(b); }
  friend bool operator==(const char* a, const CompactString& b) { return b.Equals(a); }
  friend bool operator<(const CompactString& a, const CompactString& b) { return a.Compare(b) < 0; }
  template <class T>
  friend bool operator!=(const CompactString& a, const T& b) {
    return !(a == b);
  }

 private:
  friend class FolderSharing;
  struct Folder;
  struct Rep;
  static Rep* Make(Folder* folder, std::string_view rest);
  static Rep* Copy(const Rep* rep);
  static void Release(Rep* rep);
  bool Packed() const;
  std::string_view FolderText() const;
  std::string_view Rest() const;  // not of a packed text

  Rep* rep_ = nullptr;
};

std::ostream& operator<<(std::ostream& out, const CompactString& text);

// Makes paths ("/" separators) whose folder ("a/b/" of "a/b/c.txt") is the one of the path made
// before share that folder's text. Lists name their files folder by folder, so remembering the
// last folder finds nearly every repeat without a table of them.
class FolderSharing {
 public:
  FolderSharing() = default;
  FolderSharing(const FolderSharing&) = delete;
  FolderSharing& operator=(const FolderSharing&) = delete;
  ~FolderSharing();
  CompactString Make(std::string_view path);

 private:
  CompactString::Folder* last_ = nullptr;
};
