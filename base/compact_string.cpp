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

struct CompactString::Rep {
  Folder* folder;  // null for a text of one piece
  uint32_t length;
  const char* text() const { return reinterpret_cast<const char*>(this + 1); }
};

namespace {

template <class Header>
Header* Allocate(std::string_view text) {
  void* memory = ::operator new(sizeof(Header) + text.size());
  if (!text.empty()) std::memcpy(static_cast<char*>(memory) + sizeof(Header), text.data(), text.size());
  return new (memory) Header{};
}

}  // namespace

CompactString::Rep* CompactString::Make(Folder* folder, std::string_view rest) {
  if (!folder && rest.empty()) return nullptr;
  Rep* rep = Allocate<Rep>(rest);
  rep->folder = folder;
  rep->length = static_cast<uint32_t>(rest.size());
  if (folder) folder->refs.fetch_add(1, std::memory_order_relaxed);
  return rep;
}

void CompactString::Release(Rep* rep) {
  if (!rep) return;
  Folder* folder = rep->folder;
  if (folder && folder->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) ::operator delete(folder);
  ::operator delete(rep);
}

CompactString::CompactString(const CompactString& other)
    : rep_(other.rep_ ? Make(other.rep_->folder, other.Rest()) : nullptr) {}

CompactString& CompactString::operator=(const CompactString& other) {
  if (this != &other) {
    Rep* copy = other.rep_ ? Make(other.rep_->folder, other.Rest()) : nullptr;
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

std::string_view CompactString::FolderText() const {
  if (!rep_ || !rep_->folder) return {};
  return {rep_->folder->text(), rep_->folder->length};
}

std::string_view CompactString::Rest() const { return rep_ ? std::string_view(rep_->text(), rep_->length) : std::string_view(); }

size_t CompactString::size() const { return FolderText().size() + Rest().size(); }

std::string CompactString::str() const {
  std::string text;
  AppendTo(text);
  return text;
}

void CompactString::AppendTo(std::string& out) const {
  const std::string_view folder = FolderText();
  const std::string_view rest = Rest();
  out.reserve(out.size() + folder.size() + rest.size());
  out.append(folder);
  out.append(rest);
}

bool CompactString::Equals(std::string_view text) const {
  const std::string_view folder = FolderText();
  const std::string_view rest = Rest();
  return text.size() == folder.size() + rest.size() && text.substr(0, folder.size()) == folder &&
         text.substr(folder.size()) == rest;
}

bool operator==(const CompactString& a, const CompactString& b) {
  if (a.rep_ == b.rep_) return true;
  if (!a.rep_ || !b.rep_) return false;
  if (a.rep_->folder == b.rep_->folder) return a.Rest() == b.Rest();
  if (!b.rep_->folder) return a.Equals(b.Rest());
  if (!a.rep_->folder) return b.Equals(a.Rest());
  return a.size() == b.size() && a.Equals(b.str());
}

int CompactString::Compare(const CompactString& other) const {
  if (rep_ && other.rep_ && rep_->folder == other.rep_->folder) return Rest().compare(other.Rest());
  const auto [a1, a2] = Pieces();
  const auto [b1, b2] = other.Pieces();
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
    CompactString::Folder* made = Allocate<CompactString::Folder>(folder);
    made->refs.store(1, std::memory_order_relaxed);  // this sharer's own
    made->length = static_cast<uint32_t>(folder.size());
    if (last_ && last_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) ::operator delete(last_);
    last_ = made;
  }
  CompactString text;
  text.rep_ = CompactString::Make(last_, path.substr(slash + 1));
  return text;
}
