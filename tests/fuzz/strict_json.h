// What the streaming readers must accept: strict JSON within their nesting limit, and for the
// client-files list the forms people write by hand as well. The fuzz targets compare them with
// json-c's tree parser, which is laxer still, on such texts only.
#pragma once

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <string>

// JSON as RapidJSON reads it with kFlags, within the nesting limit. Left out as well: a NUL byte inside a string or a key,
// because json-c's keys end there, and \u escapes of surrogates: json-c 0.16 turns some valid
// pairs into U+FFFD and the two readers decode lone ones differently (neither is text a
// launcher or a server writes).
template <unsigned kFlags>
bool WithinReaderRules(const std::string& body) {
  for (size_t at = body.find("\\u"); at != std::string::npos; at = body.find("\\u", at + 2)) {
    if (at + 3 < body.size() && (body[at + 2] == 'd' || body[at + 2] == 'D') &&
        std::string("89abcdefABCDEF").find(body[at + 3]) != std::string::npos) {
      return false;
    }
  }
  struct Depth : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Depth> {
    int depth = 0;
    bool StartObject() { return ++depth <= 32; }
    bool EndObject(rapidjson::SizeType) { return --depth, true; }
    bool StartArray() { return ++depth <= 32; }
    bool EndArray(rapidjson::SizeType) { return --depth, true; }
    bool String(const char* text, rapidjson::SizeType length, bool) {
      return std::string(text, length).find('\0') == std::string::npos;
    }
    bool Key(const char* text, rapidjson::SizeType length, bool copy) { return String(text, length, copy); }
  } handler;
  rapidjson::Reader reader;
  rapidjson::MemoryStream stream(body.data(), body.size());
  return !reader.Parse<kFlags | rapidjson::kParseIterativeFlag>(stream, handler).IsError() &&
         stream.Tell() == body.size();
}

inline bool IsStrictJson(const std::string& body) { return WithinReaderRules<0>(body); }

// The hand-written forms the client-files list is read with as well: comments, trailing
// commas, NaN and Infinity, raw control characters inside strings, single-quoted strings and
// the five words in any letter case. Worked out on a copy in strict spelling (raw characters
// in strings escaped, single quotes turned double, words canonical), apart from the reader's
// own stream. Left out: "Inf" and "-NaN" in any case, which RapidJSON takes and json-c does not.
inline bool IsHandWrittenJson(const std::string& body) {
  std::string lower = body;
  for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  if (lower.find("-nan") != std::string::npos) return false;
  for (size_t at = lower.find("inf"); at != std::string::npos; at = lower.find("inf", at + 3)) {
    if (lower.compare(at, 8, "infinity") != 0) return false;
  }
  static const char* const kWords[] = {"true", "false", "null", "nan", "infinity"};
  static const char* const kCanonical[] = {"true", "false", "null", "NaN", "Infinity"};
  std::string escaped;
  enum { kOutside, kString, kEscape, kSingle, kSingleEscape, kLine, kBlock } place = kOutside;
  for (size_t i = 0; i < body.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(body[i]);
    const char next = i + 1 < body.size() ? body[i + 1] : '\0';
    if ((place == kString || place == kSingle) && c != 0 && c < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      escaped += std::string("\\u00") + kHex[c >> 4] + kHex[c & 15];
      continue;
    }
    if (place == kOutside) {
      size_t word = 0;
      while (word < 5 && lower.compare(i, std::string(kWords[word]).size(), kWords[word]) != 0) ++word;
      if (word < 5) {
        escaped += kCanonical[word];
        i += std::string(kWords[word]).size() - 1;
        continue;
      }
    }
    if (place == kSingle && c == '"') {
      escaped += "\\\"";
      continue;
    }
    escaped += static_cast<char>((place == kOutside || place == kSingle) && c == '\'' ? '"' : c);
    size_t pair = 0;  // a two-byte comment mark, copied whole
    switch (place) {
      case kOutside:
        if (c == '"') place = kString;
        if (c == '\'') place = kSingle;
        if (c == '/' && (next == '/' || next == '*')) place = next == '/' ? kLine : kBlock, pair = 1;
        break;
      case kString: place = c == '\\' ? kEscape : c == '"' ? kOutside : kString; break;
      case kEscape: place = kString; break;
      case kSingle: place = c == '\\' ? kSingleEscape : c == '\'' ? kOutside : kSingle; break;
      case kSingleEscape: place = kSingle; break;
      case kLine: if (c == '\n') place = kOutside; break;
      case kBlock: if (c == '*' && next == '/') place = kOutside, pair = 1; break;
    }
    if (pair) escaped += body[++i];
  }
  return WithinReaderRules<rapidjson::kParseCommentsFlag | rapidjson::kParseTrailingCommasFlag |
                           rapidjson::kParseNanAndInfFlag>(escaped);
}
