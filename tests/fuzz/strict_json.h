// What the streaming readers must accept: strict JSON within their nesting limit. The fuzz
// targets compare them with json-c's tree parser, which is laxer, on such texts only.
#pragma once

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <string>

// Strict JSON within the nesting limit. Left out as well: a NUL byte inside a string or a key,
// because json-c's keys end there, and \u escapes of surrogates: json-c 0.16 turns some valid
// pairs into U+FFFD and the two readers decode lone ones differently (neither is text a
// launcher or a server writes).
inline bool IsStrictJson(const std::string& body) {
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
  return !reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler).IsError() && stream.Tell() == body.size();
}

