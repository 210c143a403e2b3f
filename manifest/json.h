// JSON access over json-c, shared by the manifest, state-file and server-list parsers.
// Integers are kept apart from other numbers: 5.0 is not an integer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct json_object;

struct JsonRelease {
  void operator()(json_object* object) const;
};
// Owns one json-c reference.
using JsonPtr = std::unique_ptr<json_object, JsonRelease>;

// The json-c tokener over the whole length of text. Null on a tokener error (syntax error,
// text ended inside a value) and when anything but white space follows the value.
JsonPtr ParseJson(const std::string& text);

// True when obj is non-null, has key and its value is a string; copies its bytes by length.
bool JsonGetString(json_object* obj, const char* key, std::string& out);

// True when obj is non-null, has key and its value is a non-negative integer.
bool JsonGetUInt64(json_object* obj, const char* key, uint64_t& out);

// True when obj is non-null, has key and its value is a boolean.
bool JsonGetBool(json_object* obj, const char* key, bool& out);

// The member when it has the given type, else null (json_type_* values of json-c).
json_object* JsonGetMember(json_object* obj, const char* key, int jsonType);

bool JsonIsObject(json_object* value);
