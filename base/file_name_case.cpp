#include "base/file_name_case.h"

#include <algorithm>
#include <cstdint>

namespace {

// Decodes one strict UTF-8 sequence at text[i]; false on any malformed input.
bool NextCodePoint(const char* text, size_t length, size_t& i, char32_t& code) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  size_t extra = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    code = lead;
    ++i;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, code = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, code = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, code = lead & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (length - i <= extra) return false;
  for (size_t k = 1; k <= extra; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return false;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
  i += extra + 1;
  return true;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

char32_t UpperCaseForFileName(char32_t code) {
  if (code < 0x80) return code >= U'a' && code <= U'z' ? code - 32 : code;
  if (code > 0xFFFF) return code;
  const CaseRun* end = kFileNameCaseRuns + kFileNameCaseRunCount;
  // The last run that starts at or before code.
  const CaseRun* run =
      std::upper_bound(kFileNameCaseRuns, end, code, [](char32_t c, const CaseRun& r) { return c < r.first; });
  if (run == kFileNameCaseRuns) return code;
  --run;
  if (code > run->last || (code - run->first) % run->step != 0) return code;
  return static_cast<char32_t>(static_cast<int32_t>(code) + run->delta);
}

bool FileNameKey(const std::string& name, std::string& key) {
  std::string folded;
  folded.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    char32_t code = 0;
    if (!NextCodePoint(name.data(), name.size(), i, code)) return false;
    AppendUtf8(folded, UpperCaseForFileName(code));
  }
  key = std::move(folded);
  return true;
}

bool IsValidUtf8(const char* text, size_t length) {
  char32_t code = 0;
  for (size_t i = 0; i < length;) {
    if (!NextCodePoint(text, length, i, code)) return false;
  }
  return true;
}
