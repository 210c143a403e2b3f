#include "base/compact_string.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <ostream>

// Each is followed in its allocation by its text.
struct CompactString::Folder {
  std::atomic<uint32_t> refs;
  uint32_t length;
  const char* text() const { return reinterpret_cast<const char*>(this + 1); }
};

// A packed text has no folder and is followed by length / 2 bytes, high nibble first.
struct CompactString::Rep {
  static constexpr uint32_t kPacked = 0x80000000u;
  Folder* folder;  // null for a text of one piece
  uint32_t bits;   // the length of the text after the folder, and kPacked
  uint32_t length() const { return bits & ~kPacked; }
  uint32_t stored() const { return bits & kPacked ? length() / 2 : length(); }
  const char* text() const { return reinterpret_cast<const char*>(this + 1); }
};

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsPackable(std::string_view text) {
  if (text.size() < 2 || text.size() % 2 != 0 || text.size() >= size_t(1) << 31) return false;
  return std::all_of(text.begin(), text.end(), [](char c) { return HexValue(c) >= 0; });
}

// A header followed by count bytes, which fill writes.
template <class Header, class Fill>
Header* Allocate(size_t count, Fill fill) {
  void* memory = ::operator new(sizeof(Header) + count);
  fill(static_cast<char*>(memory) + sizeof(Header));
  return new (memory) Header{};
}

template <class Header>
Header* Allocate(const char* bytes, size_t count) {
  return Allocate<Header>(count, [&](char* out) {
    if (count) std::memcpy(out, bytes, count);
  });
}

// The hex digits of bytes [from, from + count) of a packed text, into out.
void Spell(const char* packed, size_t from, size_t count, char* out) {
  for (size_t i = 0; i < count; ++i) {
    const unsigned char byte = static_cast<unsigned char>(packed[from + i]);
    out[2 * i] = kHexDigits[byte >> 4];
    out[2 * i + 1] = kHexDigits[byte & 15];
  }
}

}  // namespace

CompactString::Rep* CompactString::Make(Folder* folder, std::string_view rest) {
  if (!folder && rest.empty()) return nullptr;
  Rep* rep;
  if (!folder && IsPackable(rest)) {
    rep = Allocate<Rep>(rest.size() / 2, [rest](char* out) {
      for (size_t i = 0; i < rest.size() / 2; ++i) {
        out[i] = static_cast<char>(HexValue(rest[2 * i]) << 4 | HexValue(rest[2 * i + 1]));
      }
    });
    rep->bits = static_cast<uint32_t>(rest.size()) | Rep::kPacked;
  } else {
    rep = Allocate<Rep>(rest.data(), rest.size());
    rep->bits = static_cast<uint32_t>(rest.size());
  }
  rep->folder = folder;
  if (folder) folder->refs.fetch_add(1, std::memory_order_relaxed);
  return rep;
}

CompactString::Rep* CompactString::Copy(const Rep* rep) {
  if (!rep) return nullptr;
  Rep* copy = Allocate<Rep>(rep->text(), rep->stored());
  copy->bits = rep->bits;
  copy->folder = rep->folder;
  if (copy->folder) copy->folder->refs.fetch_add(1, std::memory_order_relaxed);
  return copy;
}

void CompactString::Release(Rep* rep) {
  if (!rep) return;
  Folder* folder = rep->folder;
  if (folder && folder->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) ::operator delete(folder);
  ::operator delete(rep);
}

CompactString::CompactString(const CompactString& other) : rep_(Copy(other.rep_)) {}

CompactString& CompactString::operator=(const CompactString& other) {
  if (this != &other) {
    Rep* copy = Copy(other.rep_);
    Release(rep_);
    rep_ = copy;
  }
  return *this;
}

CompactString& CompactString::operator=(CompactString&& other) noexcept {
  if (this != &other) {
    Release(rep_);
    rep_ = other.rep_;
    other.rep_ = nullptr;
  }
  return *this;
}

CompactString::~CompactString() { Release(rep_); }

bool CompactString::Packed() const { return rep_ && (rep_->bits & Rep::kPacked); }

std::string_view CompactString::FolderText() const {
  if (!rep_ || !rep_->folder) return {};
  return {rep_->folder->text(), rep_->folder->length};
}

std::string_view CompactString::Rest() const {
  return rep_ ? std::string_view(rep_->text(), rep_->length()) : std::string_view();
}

size_t CompactString::size() const { return FolderText().size() + (rep_ ? rep_->length() : 0); }

std::string CompactString::str() const {
  std::string text;
  AppendTo(text);
  return text;
}

void CompactString::AppendTo(std::string& out) const {
  if (Packed()) {
    const size_t at = out.size();
    out.resize(at + rep_->length());
    Spell(rep_->text(), 0, rep_->stored(), &out[at]);
    return;
  }
  const std::string_view folder = FolderText();
  const std::string_view rest = Rest();
  out.reserve(out.size() + folder.size() + rest.size());
  out.append(folder);
  out.append(rest);
}

std::pair<std::string_view, std::string_view> CompactString::Pieces(std::string& scratch) const {
  if (!Packed()) return {FolderText(), Rest()};
  scratch.clear();
  AppendTo(scratch);
  return {std::string_view(), scratch};
}

bool CompactString::Equals(std::string_view text) const {
  if (Packed()) {
    if (text.size() != rep_->length()) return false;
    char spelt[2];
    for (size_t i = 0; i < rep_->stored(); ++i) {
      Spell(rep_->text(), i, 1, spelt);
      if (text[2 * i] != spelt[0] || text[2 * i + 1] != spelt[1]) return false;
    }
    return true;
  }
  const std::string_view folder = FolderText();
  const std::string_view rest = Rest();
  return text.size() == folder.size() + rest.size() && text.substr(0, folder.size()) == folder &&
         text.substr(folder.size()) == rest;
}

bool operator==(const CompactString& a, const CompactString& b) {
  if (a.rep_ == b.rep_) return true;
  if (!a.rep_ || !b.rep_) return false;
  if (a.Packed() || b.Packed()) {
    // Equal texts are packed alike: packing depends on the text alone.
    return a.rep_->bits == b.rep_->bits && a.Packed() && b.Packed() &&
           std::memcmp(a.rep_->text(), b.rep_->text(), a.rep_->stored()) == 0;
  }
  if (a.rep_->folder == b.rep_->folder) return a.Rest() == b.Rest();
  if (!b.rep_->folder) return a.Equals(b.Rest());
  if (!a.rep_->folder) return b.Equals(a.Rest());
  return a.size() == b.size() && a.Equals(b.str());
}

int CompactString::Compare(const CompactString& other) const {
  if (Packed() || other.Packed()) return str().compare(other.str());
  if (rep_ && other.rep_ && rep_->folder == other.rep_->folder) return Rest().compare(other.Rest());
  const std::string_view a1 = FolderText(), a2 = Rest(), b1 = other.FolderText(), b2 = other.Rest();
  std::string_view a = a1.empty() ? a2 : a1, b = b1.empty() ? b2 : b1;
  bool aLast = a1.empty(), bLast = b1.empty();
  while (!a.empty() && !b.empty()) {
    const size_t n = std::min(a.size(), b.size());
    if (const int order = a.substr(0, n).compare(b.substr(0, n))) return order;
    a.remove_prefix(n);
    b.remove_prefix(n);
    if (a.empty() && !aLast) a = a2, aLast = true;
    if (b.empty() && !bLast) b = b2, bLast = true;
  }
  return a.empty() ? (b.empty() ? 0 : -1) : 1;
}

std::ostream& operator<<(std::ostream& out, const CompactString& text) { return out << text.str(); }

FolderSharing::~FolderSharing() {
  if (last_ && last_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) ::operator delete(last_);
}

CompactString FolderSharing::Make(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return CompactString(path);
  const std::string_view folder = path.substr(0, slash + 1);
  if (!last_ || std::string_view(last_->text(), last_->length) != folder) {
    CompactString::Folder* made = Allocate<CompactString::Folder>(folder.data(), folder.size());
    made->refs.store(1, std::memory_order_relaxed);  // this sharer's own
    made->length = static_cast<uint32_t>(folder.size());
    if (last_ && last_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) ::operator delete(last_);
    last_ = made;
  }
  CompactString text;
  text.rep_ = CompactString::Make(last_, path.substr(slash + 1));
  return text;
}
