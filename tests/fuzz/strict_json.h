// What the streaming readers must accept: strict JSON within their nesting limit. The fuzz
// targets compare them with json-c's tree parser, which is laxer, on such texts only.
#pragma once

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <string>

// Strict JSON within the nesting limit; a NUL byte inside a string or a key is left out,
// because json-c's keys end there.
inline bool IsStrictJson(const std::string& body) {
  struct Depth : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Depth> {
    int depth = 0;
    bool StartObject() { return ++depth <= 32; }
    bool EndObject(rapidjson::SizeType) { return --depth, true; }
    bool StartArray() { return ++depth <= 32; }
    bool EndArray(rapidjson::SizeType) { return --depth, true; }
    bool String(const char* text, rapidjson::SizeType length, bool) { return std::string(text, length).find('\0') == std::string::npos; }
    bool Key(const char* text, rapidjson::SizeType length, bool copy) { return String(text, length, copy); }
  } handler;
  rapidjson::Reader reader;
  rapidjson::MemoryStream stream(body.data(), body.size());
  return !reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler).IsError() && stream.Tell() == body.size();
}

