// Lexical path helpers. Portable: they never touch the file system.
#pragma once

#include <string>

// base + "\" + relative ("/" in relative turned into "\"); no separator is added when the
// base is empty or already ends in one.
std::wstring JoinPath(const std::wstring& base, const std::wstring& relative);

// Text before the last "\" or "/", empty when there is none.
std::wstring ParentPath(const std::wstring& path);

// Text after the last "\" or "/".
std::wstring FileNamePart(const std::wstring& path);

// "/" becomes "\", repeated separators collapse, "." and ".." segments are resolved.
// A leading "\\" (UNC or device prefix) and a drive root are kept.
std::wstring NormalizeSeparatorsAndDots(const std::wstring& fullPath);

// Removes trailing "\" and "/" while the text is longer than 3 characters ("C:\" stays).
std::wstring TrimTrailingSeparators(std::wstring path);

// The folder T for which exePath is T\Bin\launcher\<exe>, or empty when it is not laid out so.
std::wstring DevelopmentTreeRoot(const std::wstring& exePath);
