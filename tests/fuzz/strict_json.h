// What the streaming readers must accept: strict JSON within their nesting limit. The fuzz
// targets compare them with json-c's tree parser, which is laxer, on such texts only.
#pragma once

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <string>

// Strict JSON within the nesting limit. Left out as well: a NUL byte inside a string or a key,
// because json-c's keys end there, and a \u escape of a lone surrogate, which the two readers
// decode differently (neither is text a launcher or a server writes).
inline bool IsStrictJson(const std::string& body) {
  struct Depth : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Depth> {
    int depth = 0;
    bool StartObject() { return ++depth <= 32; }
    bool EndObject(rapidjson::SizeType) { return --depth, true; }
    bool StartArray() { return ++depth <= 32; }
    bool EndArray(rapidjson::SizeType) { return --depth, true; }
    bool String(const char* text, rapidjson::SizeType length, bool) {
      const std::string value(text, length);
      if (value.find('\0') != std::string::npos) return false;
      for (size_t i = 0; i + 1 < value.size(); ++i) {
        if (static_cast<unsigned char>(value[i]) == 0xED && static_cast<unsigned char>(value[i + 1]) >= 0xA0) return false;
      }
      return true;
    }
    bool Key(const char* text, rapidjson::SizeType length, bool copy) { return String(text, length, copy); }
  } handler;
  rapidjson::Reader reader;
  rapidjson::MemoryStream stream(body.data(), body.size());
  return !reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler).IsError() && stream.Tell() == body.size();
}

