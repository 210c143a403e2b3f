#include "manifest/json.h"

#include <json-c/json.h>

#include <climits>

void JsonRelease::operator()(json_object* object) const { json_object_put(object); }

JsonPtr ParseJson(const std::string& text) {
  if (text.size() > static_cast<size_t>(INT_MAX)) return nullptr;
  json_tokener* tokener = json_tokener_new();
  if (!tokener) return nullptr;
  const int length = static_cast<int>(text.size());
  JsonPtr root(json_tokener_parse_ex(tokener, text.data(), length));
  const bool complete = json_tokener_get_error(tokener) == json_tokener_success;
  size_t end = json_tokener_get_parse_end(tokener);
  json_tokener_free(tokener);
  if (!root || !complete) return nullptr;
  for (; end < text.size(); ++end) {
    const char c = text[end];
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return nullptr;
  }
  return root;
}

json_object* JsonGetMember(json_object* obj, const char* key, int jsonType) {
  json_object* value = nullptr;
  if (!obj || !json_object_is_type(obj, json_type_object)) return nullptr;
  if (!json_object_object_get_ex(obj, key, &value) || !value) return nullptr;
  return json_object_is_type(value, static_cast<json_type>(jsonType)) ? value : nullptr;
}

bool JsonIsObject(json_object* value) { return value && json_object_is_type(value, json_type_object); }

bool JsonGetString(json_object* obj, const char* key, std::string& out) {
  json_object* value = JsonGetMember(obj, key, json_type_string);
  if (!value) return false;
  out.assign(json_object_get_string(value), static_cast<size_t>(json_object_get_string_len(value)));
  return true;
}

bool JsonGetUInt64(json_object* obj, const char* key, uint64_t& out) {
  json_object* value = JsonGetMember(obj, key, json_type_int);
  // json-c keeps integers above INT64_MAX as unsigned; get_int64 then saturates, never negative.
  if (!value || json_object_get_int64(value) < 0) return false;
  out = json_object_get_uint64(value);
  return true;
}

bool JsonGetBool(json_object* obj, const char* key, bool& out) {
  json_object* value = JsonGetMember(obj, key, json_type_boolean);
  if (!value) return false;
  out = json_object_get_boolean(value) != 0;
  return true;
}
