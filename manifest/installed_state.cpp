#include "manifest/installed_state.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "manifest/json_stream.h"
#include "manifest/rules.h"

// The state of a large server can list 200,000 files. Both directions work on the text
// directly: a JSON tree of such a file costs several hundred bytes per entry, which a 32-bit
// launcher holding the manifest as well cannot afford.

namespace {

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

// The text's bytes as a JSON string's content: safe runs are copied whole.
void AppendEscaped(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!NeedsEscape(c)) continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
  }
  out.append(text.data() + run, text.size() - run);
}

void AppendString(std::string& out, const std::string& text) {
  out += '"';
  AppendEscaped(out, text);
  out += '"';
}

// Spelt straight into out, and escaped there only in the rare text that needs it: the record
// writes 200,000 paths and hashes.
void AppendString(std::string& out, const CompactString& text) {
  out += '"';
  const size_t at = out.size();
  text.AppendTo(out);
  if (std::any_of(out.begin() + static_cast<std::ptrdiff_t>(at), out.end(),
                  [](char c) { return NeedsEscape(static_cast<unsigned char>(c)); })) {
    const std::string raw = out.substr(at);
    out.resize(at);
    AppendEscaped(out, raw);
  }
  out += '"';
}

// A digest of a text that does not depend on how the text was cut into pieces.
class TextDigest {
 public:
  void Update(const char* data, size_t length);
  uint64_t Value() const;

 private:
  void Mix(uint64_t word);
  uint64_t hash_ = 0x6A09E667F3BCC908ull;
  uint64_t length_ = 0;
  unsigned char carry_[8] = {};
  size_t fill_ = 0;
};

void TextDigest::Mix(uint64_t word) {
  hash_ = (hash_ ^ word) * 0x9E3779B97F4A7C15ull;
  hash_ ^= hash_ >> 29;
}

void TextDigest::Update(const char* data, size_t length) {
  length_ += length;
  while (length > 0) {
    if (fill_ == 0 && length >= 8) {
      uint64_t word;
      std::memcpy(&word, data, 8);
      Mix(word);
      data += 8;
      length -= 8;
      continue;
    }
    carry_[fill_++] = static_cast<unsigned char>(*data++);
    --length;
    if (fill_ == 8) {
      uint64_t word;
      std::memcpy(&word, carry_, 8);
      Mix(word);
      fill_ = 0;
    }
  }
}

uint64_t TextDigest::Value() const {
  TextDigest last = *this;
  if (last.fill_ > 0) {
    uint64_t word = 0;
    std::memcpy(&word, last.carry_, last.fill_);
    last.Mix(word);
  }
  last.Mix(length_);
  return last.hash_;
}

// The text of a record up to its first entry, and of one entry (with the comma before it unless
// it is the first): one builder for writing, comparing and digesting.
void AppendHead(std::string& out, const std::string& build, bool complete) {
  out += "{\"version\":1,\"build\":";
  AppendString(out, build);
  out += complete ? ",\"complete\":true,\"files\":[" : ",\"complete\":false,\"files\":[";
}

void AppendEntry(std::string& out, const InstalledFile& file, bool first) {
  out += first ? "{\"path\":" : ",{\"path\":";
  AppendString(out, file.path);
  out += ",\"hash\":";
  AppendString(out, file.hash);
  out += ",\"size\":" + std::to_string(file.size) + ",\"mtime\":" + std::to_string(file.mtime);
  if (file.keep) out += ",\"keep\":true";
  if (file.unavailable) out += ",\"unavailable\":true";
  out += '}';
}

constexpr char kTail[] = "]}";

// What ParseInstalledState keeps of the events. Where a key repeats, the last one counts, and
// a value of another type counts as the key missing. With a sink, entries are handed over as
// they are read instead of being kept; a second "files" member then fails the reading, since
// what was handed over cannot be taken back. With a digest, the text that serialising the
// record read so far gives is digested as it grows (the head when "files" opens), to tell
// whether the text was exactly that.
class StateEvents {
 public:
  explicit StateEvents(InstalledState& state, const std::function<void(InstalledFile&&)>* sink = nullptr,
                       TextDigest* serialized = nullptr)
      : state_(state), sink_(sink), serialized_(serialized) {}

  bool Open(bool isObject) {
    const Place place = stack_.empty() ? kTop : stack_.back();
    const Member key = key_;
    key_ = kOther;
    if (place == kTop) {
      if (!isObject) return false;  // the top must be an object
      stack_.push_back(kRoot);
      return true;
    }
    if (place == kRoot) {
      if (key == kFiles) {
        if (!FilesAgain()) return false;
        hasFiles_ = !isObject;
        if (!isObject) {
          if (serialized_) {
            std::string head;
            AppendHead(head, state_.build, state_.complete);
            serialized_->Update(head.data(), head.size());
          }
          stack_.push_back(kFilesArray);
          return true;
        }
      }
      if (key == kBuild) state_.build.clear();
      if (key == kComplete) state_.complete = false;
    } else if (place == kFilesArray && isObject) {
      entry_ = Entry();
      stack_.push_back(kEntry);
      return true;
    } else if (place == kEntry) {
      Forget(key);
    }
    stack_.push_back(kSkip);
    return true;
  }

  bool Close() {
    const Place place = stack_.back();
    stack_.pop_back();
    if (place == kEntry) Finish();
    key_ = kOther;
    return true;
  }

  bool Key(const char* text, size_t length) {
    const std::string name(text, length);
    key_ = kOther;
    if (stack_.back() == kRoot) {
      if (name == "files") key_ = kFiles;
      if (name == "build") key_ = kBuild;
      if (name == "complete") key_ = kComplete;
    } else if (stack_.back() == kEntry) {
      if (name == "path") key_ = kPath;
      if (name == "hash") key_ = kHash;
      if (name == "sha256") key_ = kSha256;
      if (name == "size") key_ = kSize;
      if (name == "mtime") key_ = kMtime;
      if (name == "keep") key_ = kKeep;
      if (name == "unavailable") key_ = kUnavailable;
    }
    return true;
  }

  bool Scalar(const JsonScalar& value) {
    if (stack_.empty()) return false;  // a bare value at the top
    const Member key = key_;
    key_ = kOther;
    const bool isString = value.kind == JsonScalar::kString;
    const bool isBool = value.kind == JsonScalar::kBool;
    if (stack_.back() == kRoot) {
      if (key == kFiles) {
        if (!FilesAgain()) return false;
        hasFiles_ = false;
      }
      if (key == kBuild) state_.build = isString ? std::string(value.text, value.length) : std::string();
      if (key == kComplete) state_.complete = isBool && value.boolean;
      return true;
    }
    if (stack_.back() != kEntry) return true;
    Forget(key);
    switch (key) {
      case kPath:
        entry_.hasPath = isString;
        if (isString) path_.assign(value.text, value.length);
        break;
      case kHash:
        entry_.hasHash = isString;
        if (isString) hash_.assign(value.text, value.length);
        break;
      case kSha256:
        entry_.hasSha256 = isString;
        if (isString) sha256_.assign(value.text, value.length);
        break;
      case kSize:
        if (value.kind == JsonScalar::kInteger) entry_.file.size = value.integer;
        break;
      case kMtime:
        if (value.kind == JsonScalar::kInteger) entry_.file.mtime = value.integer;
        break;
      case kKeep:
        entry_.file.keep = isBool && value.boolean;
        break;
      case kUnavailable:
        entry_.file.unavailable = isBool && value.boolean;
        break;
      default:
        break;
    }
    return true;
  }

  bool HasFiles() const { return hasFiles_; }
  bool FilesRepeated() const { return filesRepeated_; }

 private:
  enum Place { kTop, kRoot, kFilesArray, kEntry, kSkip };
  enum Member { kOther, kFiles, kBuild, kComplete, kPath, kHash, kSha256, kSize, kMtime, kKeep, kUnavailable };
  struct Entry {
    InstalledFile file;
    bool hasPath = false, hasHash = false, hasSha256 = false;
  };

  // An entry member whose latest value has the wrong type, before that value is taken.
  void Forget(Member key) {
    switch (key) {
      case kPath: entry_.hasPath = false; break;
      case kHash: entry_.hasHash = false; break;
      case kSha256: entry_.hasSha256 = false; break;
      case kSize: entry_.file.size = 0; break;
      case kMtime: entry_.file.mtime = 0; break;
      case kKeep: entry_.file.keep = false; break;
      case kUnavailable: entry_.file.unavailable = false; break;
      default: break;
    }
  }

  // A "files" member after another one replaces it.
  bool FilesAgain() {
    filesRepeated_ = sink_ && seenFiles_;
    if (filesRepeated_) return false;
    seenFiles_ = true;
    state_.files.clear();
    return true;
  }

  void Finish() {
    if (!entry_.hasPath || !IsSafeRelativePath(path_)) return;
    entry_.file.path = folders_.Make(path_);
    entry_.file.hash = entry_.hasHash     ? CompactString(hash_)
                       : entry_.hasSha256 ? CompactString(sha256_)
                                          : CompactString();
    if (serialized_) {
      piece_.clear();
      AppendEntry(piece_, entry_.file, entries_ == 0);
      serialized_->Update(piece_.data(), piece_.size());
    }
    ++entries_;
    if (sink_) {
      (*sink_)(std::move(entry_.file));
    } else {
      state_.files.push_back(std::move(entry_.file));
    }
  }

  InstalledState& state_;
  const std::function<void(InstalledFile&&)>* sink_;
  TextDigest* serialized_;
  std::string piece_;
  size_t entries_ = 0;
  bool seenFiles_ = false;
  std::vector<Place> stack_;
  Member key_ = kOther;
  Entry entry_;
  std::string path_, hash_, sha256_;  // the entry's, kept apart so that their room is reused
  FolderSharing folders_;
  bool hasFiles_ = false;
  bool filesRepeated_ = false;
};

}  // namespace

bool EmitInstalledStateEntries(const std::string& build, bool complete,
                               const std::function<bool(const EmitStateEntry& entry)>& produce,
                               const std::function<bool(const std::string& piece)>& emit) {
  std::string piece;
  AppendHead(piece, build, complete);
  if (!emit(piece)) return false;
  bool first = true;
  const bool produced = produce([&](const InstalledFile& entry) {
    piece.clear();
    AppendEntry(piece, entry, first);
    first = false;
    return emit(piece);
  });
  if (!produced) return false;
  piece.assign(kTail);
  return emit(piece);
}

bool EmitInstalledState(const InstalledState& state, const std::function<bool(const std::string& piece)>& emit) {
  return EmitInstalledStateEntries(
      state.build, state.complete,
      [&state](const EmitStateEntry& entry) {
        for (const InstalledFile& file : state.files) {
          if (!entry(file)) return false;
        }
        return true;
      },
      emit);
}

std::string SerializeInstalledState(const InstalledState& state) {
  std::string out;
  out.reserve(64 + state.files.size() * 160);
  EmitInstalledState(state, [&out](const std::string& piece) {
    out += piece;
    return true;
  });
  return out;
}

bool SerializesTo(const InstalledState& state, const std::string& text) {
  size_t offset = 0;
  return EmitInstalledState(state,
                            [&](const std::string& piece) {
                              if (text.compare(offset, piece.size(), piece) != 0) return false;
                              offset += piece.size();
                              return true;
                            }) &&
         offset == text.size();
}

namespace {

// RapidJSON's input stream over pieces of text, each fed to the digest as it arrives.
class PieceStream {
 public:
  typedef char Ch;

  PieceStream(const std::function<size_t(char*, size_t)>& read, TextDigest& digest)
      : read_(read), digest_(digest), buffer_(65536) {
    Refill();
  }

  Ch Peek() const { return at_ < end_ ? *at_ : '\0'; }
  Ch Take() {
    if (at_ == end_) return '\0';
    const Ch c = *at_++;
    ++taken_;
    if (at_ == end_) Refill();
    return c;
  }
  size_t Tell() const { return taken_; }
  // Whether everything was read: a NUL byte inside the text also reads as its end.
  bool AtEnd() {
    if (at_ != end_) return false;
    Refill();
    return at_ == end_;
  }
  bool TooLong() const { return total_ > kMaxStateFileBytes; }

  // Output calls RapidJSON's reader never makes on an input stream.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  size_t PutEnd(Ch*) { return 0; }

 private:
  void Refill() {
    at_ = end_ = buffer_.data();
    if (TooLong()) return;
    const size_t got = read_(buffer_.data(), buffer_.size());
    total_ += got;
    digest_.Update(buffer_.data(), got);
    end_ = buffer_.data() + got;
  }

  const std::function<size_t(char*, size_t)>& read_;
  TextDigest& digest_;
  std::vector<char> buffer_;
  const char* at_ = nullptr;
  const char* end_ = nullptr;
  size_t taken_ = 0;
  uint64_t total_ = 0;
};

}  // namespace

uint64_t EntryDigest(const InstalledFile& entry, std::string& scratch) {
  // From the fields themselves, not their text: a record of 200,000 entries is digested on every
  // run. The path's length keeps "ab"+"c" apart from "a"+"bc".
  TextDigest digest;
  const uint64_t fields[4] = {entry.path.size(), entry.size, entry.mtime,
                              (entry.keep ? 1u : 0u) | (entry.unavailable ? 2u : 0u)};
  for (const CompactString* text : {&entry.path, &entry.hash}) {
    const auto [folder, rest] = text->Pieces(scratch);
    digest.Update(folder.data(), folder.size());
    digest.Update(rest.data(), rest.size());
  }
  digest.Update(reinterpret_cast<const char*>(fields), sizeof fields);
  return digest.Value();
}

uint64_t EntriesDigest(const InstalledState& state) {
  uint64_t sum = 0;
  std::string scratch;
  for (const InstalledFile& entry : state.files) sum += EntryDigest(entry, scratch);
  return sum;
}

bool ReadInstalledStateEntries(const std::function<size_t(char*, size_t)>& read,
                               const std::function<void(InstalledFile&&)>& onEntry, StateTextFacts& facts,
                               bool checkCanonical) {
  facts = StateTextFacts();
  TextDigest text, serialized;
  InstalledState header;
  StateEvents events(header, &onEntry, checkCanonical ? &serialized : nullptr);
  PieceStream stream(read, text);
  if (!ReadJsonEventsFrom(stream, events) || !events.HasFiles() || !stream.AtEnd() || stream.TooLong()) {
    facts.filesRepeated = events.FilesRepeated();
    return false;
  }
  serialized.Update(kTail, sizeof kTail - 1);
  facts.build = std::move(header.build);
  facts.complete = header.complete;
  facts.canonical = checkCanonical && text.Value() == serialized.Value();
  return true;
}

bool operator==(const InstalledFile& a, const InstalledFile& b) {
  return a.path == b.path && a.hash == b.hash && a.size == b.size && a.mtime == b.mtime && a.keep == b.keep &&
         a.unavailable == b.unavailable;
}

bool operator==(const InstalledState& a, const InstalledState& b) {
  return a.build == b.build && a.complete == b.complete && a.files == b.files;
}

bool SameRecord(const InstalledState& a, const InstalledState& b) {
  if (a.build != b.build || a.complete != b.complete || a.files.size() != b.files.size()) return false;
  if (a.files == b.files) return true;
  const auto sorted = [](const InstalledState& state) {
    std::vector<const InstalledFile*> entries;
    entries.reserve(state.files.size());
    for (const InstalledFile& file : state.files) entries.push_back(&file);
    std::sort(entries.begin(), entries.end(), [](const InstalledFile* x, const InstalledFile* y) {
      return std::tie(x->path, x->hash, x->size, x->mtime, x->keep, x->unavailable) <
             std::tie(y->path, y->hash, y->size, y->mtime, y->keep, y->unavailable);
    });
    return entries;
  };
  const auto x = sorted(a), y = sorted(b);
  for (size_t i = 0; i < x.size(); ++i) {
    if (!(*x[i] == *y[i])) return false;
  }
  return true;
}

std::optional<InstalledState> ParseInstalledState(const std::string& text) {
  if (text.size() > kMaxStateFileBytes) return std::nullopt;
  InstalledState state;
  StateEvents events(state);
  if (!ReadJsonEvents(text, events) || !events.HasFiles()) return std::nullopt;
  return state;
}
