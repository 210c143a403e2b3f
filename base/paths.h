// Lexical path helpers. Portable: they never touch the file system.
#pragma once

#include <cstdint>
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

// Whether a folder named on the command line or in a dialog cannot hold an installation
// whatever the current directory is: a drive-relative form ("C:", "C:.", "C:Oyunlar", and
// "\Oyunlar" rooted on the current drive), or a path whose lexical normal form is a drive or
// share root ("C:\", "C:\a\..", "\\server\share"). Empty text counts as unusable. Plain relative
// paths ("Oyun") are left to the caller, who resolves them against the folder it runs in.
bool IsRootOrDriveRelativeFolder(const std::wstring& path);

// Removes trailing "\" and "/" while the text is longer than 3 characters ("C:\" stays).
std::wstring TrimTrailingSeparators(std::wstring path);

// The folder T for which exePath is T\Bin\launcher\<exe>, or empty when it is not laid out so.
std::wstring DevelopmentTreeRoot(const std::wstring& exePath);

// Whether a directory entry with these attributes and reparse tag is a link to another place:
// a reparse point whose tag is a name surrogate (symbolic links, junctions). Other reparse
// points (cloud placeholders such as OneDrive's, deduplicated files) hold their own data and
// are plain files and folders. Tag 0 means none could be read and counts as a link, since a
// link is the kind never followed.
bool IsLinkEntry(uint32_t attributes, uint32_t reparseTag);
