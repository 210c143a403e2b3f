// Streaming JSON reading for large documents nobody vouches for yet (the envelope before its
// signature is checked, a game server's client-files list). A tree parser costs hundreds of
// bytes per input byte for shapes such as [{},{},...]; reading events as they come keeps the
// memory at the input plus what the reader decides to keep.
//
// Strict JSON (RFC 8259) for what machines write: no comments, trailing commas, single quotes,
// NaN, Infinity or TRUE. What people write by hand is read with ReadHandWrittenJsonEvents, which takes
// those forms too. Integers stay apart from other numbers: 5.0, 1e2 and NaN arrive as Double,
// never as an integer.
#pragma once

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

// Nesting deeper than this fails the document; the documents read this way nest five deep.
inline constexpr int kMaxJsonStreamDepth = 32;

// One scalar value as the event handlers see it.
struct JsonScalar {
  enum Kind { kNull, kBool, kInteger, kNegativeInteger, kOther, kString } kind = kNull;
  uint64_t integer = 0;  // kInteger only: a non-negative integer
  bool boolean = false;  // kBool only
  const char* text = nullptr;  // kString only: the decoded bytes, valid during the call
  size_t length = 0;
};

// Adapts RapidJSON's events to four calls of Events: Open(bool isObject), Close(),
// Key(const char*, size_t) and Scalar(const JsonScalar&). A call that returns false stops the
// reading, which then fails. Nesting is limited to kMaxJsonStreamDepth. Numbers beyond the
// range of a double fail the reading too (RapidJSON refuses them).
template <class Events>
class JsonEventAdapter {
 public:
  explicit JsonEventAdapter(Events& events) : events_(events) {}

  bool Null() { return Emit(JsonScalar{}); }
  bool Bool(bool value) {
    JsonScalar s;
    s.kind = JsonScalar::kBool;
    s.boolean = value;
    return Emit(s);
  }
  bool Int(int value) { return value < 0 ? Negative() : Unsigned(static_cast<uint64_t>(value)); }
  bool Uint(unsigned value) { return Unsigned(value); }
  bool Int64(int64_t value) { return value < 0 ? Negative() : Unsigned(static_cast<uint64_t>(value)); }
  bool Uint64(uint64_t value) { return Unsigned(value); }
  bool Double(double) {
    JsonScalar s;
    s.kind = JsonScalar::kOther;
    return Emit(s);
  }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    JsonScalar s;
    s.kind = JsonScalar::kString;
    s.text = text;
    s.length = length;
    return Emit(s);
  }
  bool StartObject() { return ++depth_ <= kMaxJsonStreamDepth && events_.Open(true); }
  bool Key(const char* text, rapidjson::SizeType length, bool) { return events_.Key(text, length); }
  bool EndObject(rapidjson::SizeType) { return Close(); }
  bool StartArray() { return ++depth_ <= kMaxJsonStreamDepth && events_.Open(false); }
  bool EndArray(rapidjson::SizeType) { return Close(); }

 private:
  bool Emit(const JsonScalar& scalar) { return events_.Scalar(scalar); }
  bool Unsigned(uint64_t value) {
    JsonScalar s;
    s.kind = JsonScalar::kInteger;
    s.integer = value;
    return Emit(s);
  }
  bool Negative() {
    JsonScalar s;
    s.kind = JsonScalar::kNegativeInteger;
    return Emit(s);
  }
  bool Close() {
    --depth_;
    return events_.Close();
  }

  Events& events_;
  int depth_ = 0;
};

// Reads text as one JSON value followed only by white space. Strings are copied once into
// the reader's own buffer for the duration of each call.
template <class Events>
bool ReadJsonEvents(const std::string& text, Events& events) {
  JsonEventAdapter<Events> adapter(events);
  rapidjson::Reader reader;
  rapidjson::MemoryStream stream(text.data(), text.size());
  // The reader takes a NUL byte for the end of the text; one inside it must not end it early.
  return !reader.Parse<rapidjson::kParseIterativeFlag>(stream, adapter).IsError() && stream.Tell() == text.size();
}

// The same over any RapidJSON input stream (text that arrives in pieces). The stream's '\0'
// ends the reading: the caller checks that it came from the end of the text.
template <class Events, class Stream>
bool ReadJsonEventsFrom(Stream& stream, Events& events) {
  JsonEventAdapter<Events> adapter(events);
  rapidjson::Reader reader;
  return !reader.Parse<rapidjson::kParseIterativeFlag>(stream, adapter).IsError();
}

// The same over a buffer that the reader may overwrite: strings are decoded in place, so the
// text pointers of String events point into buffer and stay valid after the reading. The
// length bytes of text must be followed by a NUL byte (std::string's c_str() is).
template <class Events>
bool ReadJsonEventsInPlace(char* buffer, size_t length, Events& events) {
  JsonEventAdapter<Events> adapter(events);
  rapidjson::Reader reader;
  rapidjson::InsituStringStream stream(buffer);
  return !reader.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseInsituFlag>(stream, adapter).IsError() &&
         stream.Tell() == length;
}

// The text as RapidJSON's input stream, with the forms people type that the earlier tree
// reader took rewritten on the fly into their JSON spelling:
// - a raw control character inside a string (a tab typed into a path) reads as its \u00XX escape;
// - a single-quoted string reads as a double-quoted one (a raw '"' inside it as \"; as before,
//   \' is no escape);
// - true, false, null, NaN and Infinity in any letter case read in their canonical spelling.
// The stream follows strings, comments and those words itself to know where it is. The text is
// either given whole (no copy is made) or read in pieces into a buffer of its own, keeping the
// byte before the one at hand and one after it, which is all it looks at.
class HandWrittenJsonStream {
 public:
  typedef char Ch;
  using Read = std::function<size_t(char*, size_t)>;

  HandWrittenJsonStream(const char* text, size_t size) : begin_(text), at_(text), end_(text + size) {}
  // read fills the buffer it is given and returns how many bytes it gave, 0 at the end.
  explicit HandWrittenJsonStream(const Read& read) : read_(&read), buffer_(65536) {
    begin_ = at_ = end_ = buffer_.data();
    Refill();
  }

  Ch Peek() const {
    if (at_ == end_) return '\0';
    if (place_ == kString && static_cast<unsigned char>(*at_) >= 0x20) return *at_;  // most bytes
    return Rewritten();
  }

  Ch Take() {
    if (at_ == end_) return '\0';
    const Ch raw = *at_;
    if (place_ == kString && static_cast<unsigned char>(raw) >= 0x20) {  // most bytes
      Advance();
      if (raw == '"') place_ = kOutside;
      if (raw == '\\') place_ = kStringEscape;
      return raw;
    }
    const Ch c = Rewritten();
    const int length = RewrittenLength();
    if (length > 1 && ++escaped_ < length) return c;
    escaped_ = 0;
    place_ = Here();
    Advance();
    Follow(raw);
    return c;
  }

  // Bytes of the text consumed; a rewritten byte counts once it is read whole.
  size_t Tell() const { return dropped_ + static_cast<size_t>(at_ - begin_); }
  // Whether the whole text was consumed: a NUL byte inside it also reads as its end.
  bool AtEnd() const { return at_ == end_; }

  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  size_t PutEnd(Ch*) { return 0; }

 private:
  enum Place {
    kOutside, kSlash, kLineComment, kBlockComment, kBlockStar,
    kString, kStringEscape, kSingleString, kSingleEscape, kWord
  };

  static char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

  bool InString() const { return place_ == kString || place_ == kSingleString; }

  // Where the byte at at_ is: a word ends early at the first byte that does not go on with it
  // (RapidJSON takes "Inf" for Infinity), and that byte is outside again.
  Place Here() const {
    return place_ == kWord && Lower(*at_) != Lower(word_[wordAt_]) ? kOutside : place_;
  }
  bool ControlHere() const {
    const unsigned char c = static_cast<unsigned char>(*at_);
    return c < 0x20 && c != 0 && InString();
  }

  // The canonical spelling of the word that starts at p, if one of the five does.
  const char* WordAt(const char* p) const {
    switch (Lower(*p)) {
      case 't': return "true";
      case 'f': return "false";
      case 'i': return "Infinity";
      case 'n': return p + 1 < end_ && Lower(p[1]) == 'a' ? "NaN" : "null";
      default: return nullptr;
    }
  }

  // How many bytes the byte at at_ reads as.
  int RewrittenLength() const {
    if (ControlHere()) return 6;
    return place_ == kSingleString && *at_ == '"' ? 2 : 1;
  }

  // Byte escaped_ of what the byte at at_ reads as.
  Ch Rewritten() const {
    static const char kHex[] = "0123456789abcdef";
    const Ch c = *at_;
    if (ControlHere()) {
      const unsigned char u = static_cast<unsigned char>(c);
      if (escaped_ < 4) return "\\u00"[escaped_];
      return kHex[escaped_ == 4 ? u >> 4 : u & 15];
    }
    switch (Here()) {
      case kSingleString:
        if (c == '"') return "\\\""[escaped_];
        return c == '\'' ? '"' : c;
      case kOutside: {
        if (c == '\'') return '"';
        const char* word = WordAt(at_);
        return word ? word[0] : c;
      }
      case kWord: return word_[wordAt_];
      default: return c;
    }
  }

  // The same walk as the reader's over strings, comments and words: where each starts and ends.
  void Follow(Ch c) {
    switch (place_) {
      case kOutside:
        if (c == '"') place_ = kString;
        else if (c == '\'') place_ = kSingleString;
        else if (c == '/') place_ = kSlash;
        else if ((word_ = WordAt(at_ - 1)) != nullptr) place_ = kWord, wordAt_ = 1;
        break;
      case kSlash: place_ = c == '/' ? kLineComment : c == '*' ? kBlockComment : kOutside; break;
      case kLineComment: if (c == '\n') place_ = kOutside; break;
      case kBlockComment: if (c == '*') place_ = kBlockStar; break;
      case kBlockStar: place_ = c == '/' ? kOutside : c == '*' ? kBlockStar : kBlockComment; break;
      case kString: place_ = c == '"' ? kOutside : c == '\\' ? kStringEscape : kString; break;
      case kStringEscape: place_ = kString; break;
      case kSingleString: place_ = c == '\'' ? kOutside : c == '\\' ? kSingleEscape : kSingleString; break;
      case kSingleEscape: place_ = kSingleString; break;
      case kWord: if (word_[++wordAt_] == '\0') place_ = kOutside; break;
    }
  }

  void Advance() {
    ++at_;
    if (read_ && end_ - at_ < 2) Refill();
  }

  // Moves the byte before at_ and what is left after it to the front of the buffer and reads on
  // until two bytes are at hand or the text has ended.
  void Refill() {
    const char* keepFrom = at_ > begin_ ? at_ - 1 : at_;
    const size_t keep = static_cast<size_t>(end_ - keepFrom);
    const size_t at = static_cast<size_t>(at_ - keepFrom);
    dropped_ += static_cast<size_t>(keepFrom - begin_);
    std::memmove(buffer_.data(), keepFrom, keep);
    begin_ = buffer_.data();
    at_ = begin_ + at;
    size_t filled = keep;
    while (!ended_ && filled - at < 2) {
      const size_t got = (*read_)(buffer_.data() + filled, buffer_.size() - filled);
      if (got == 0) ended_ = true;
      filled += got;
    }
    end_ = begin_ + filled;
  }

  const char* begin_;
  const char* at_;
  const char* end_;
  const Read* read_ = nullptr;
  std::vector<char> buffer_;
  size_t dropped_ = 0;  // bytes of the text before begin_
  bool ended_ = false;
  Place place_ = kOutside;
  int escaped_ = 0;  // bytes of the current rewritten byte already read
  const char* word_ = nullptr;  // kWord: the canonical spelling, and how much of it is read
  int wordAt_ = 0;
};

// Reads a document written by hand, as game-server operators write their lists: strict JSON
// plus what the earlier tree reader took from them: trailing commas, // and /* */ comments,
// NaN and Infinity (as non-integers), raw control characters inside strings, single-quoted
// strings and the five words in any letter case.
template <class Events>
bool ReadHandWrittenJsonEvents(const std::string& text, Events& events) {
  JsonEventAdapter<Events> adapter(events);
  rapidjson::Reader reader;
  HandWrittenJsonStream stream(text.data(), text.size());
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseCommentsFlag |
                              rapidjson::kParseTrailingCommasFlag | rapidjson::kParseNanAndInfFlag;
  return !reader.Parse<kFlags>(stream, adapter).IsError() && stream.Tell() == text.size();
}

// The same over a text read in pieces (see HandWrittenJsonStream).
template <class Events>
bool ReadHandWrittenJsonEvents(const HandWrittenJsonStream::Read& read, Events& events) {
  JsonEventAdapter<Events> adapter(events);
  rapidjson::Reader reader;
  HandWrittenJsonStream stream(read);
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseCommentsFlag |
                              rapidjson::kParseTrailingCommasFlag | rapidjson::kParseNanAndInfFlag;
  return !reader.Parse<kFlags>(stream, adapter).IsError() && stream.AtEnd();
}
