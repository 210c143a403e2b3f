// One rule for "is this the same file name?", shared by the launcher, its fuzz targets and the
// publishing tool. Windows file systems compare names case-insensitively by upper-casing each
// UTF-16 unit through a table (NTFS keeps it in $UpCase): one character to one character, the
// Basic Multilingual Plane only. The rule here is that: the simple Unicode upper-case mapping
// of every BMP code point where it is a case pair (the upper-case letter lower-cases back, so
// dotless i, long s, the micro sign, final sigma and title-case digraphs stay as they are),
// supplementary characters unchanged. Wine's table agrees on every BMP code point; a volume
// formatted with an older table than ours lacks a few newer pairs, so this rule can call two
// names one that such a volume keeps apart (they are then refused or skipped, which is
// harmless). Portable: no system call, the same answer on every build.
#pragma once

#include <cstddef>
#include <string>

// The simple upper-case form of one code point (itself when it has none or is above U+FFFF).
char32_t UpperCaseForFileName(char32_t code);

// The key two file names share exactly when Windows would take them for one file: each code
// point upper-cased, re-encoded as UTF-8. False, with key untouched, when name is not valid
// UTF-8 (such a name has no single file it could be).
bool FileNameKey(const std::string& name, std::string& key);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut-off sequence.
bool IsValidUtf8(const char* text, size_t length);
inline bool IsValidUtf8(const std::string& text) { return IsValidUtf8(text.data(), text.size()); }

// The generated table behind UpperCaseForFileName: code points first..last, every step-th,
// map to code point + delta.
struct CaseRun {
  char32_t first;
  char32_t last;
  unsigned step;
  int delta;
};
extern const CaseRun kFileNameCaseRuns[];
extern const size_t kFileNameCaseRunCount;
