// Which archive entries may be unpacked, and the texts of the archive library's result
// codes. Portable.
#pragma once

#include <string>

inline constexpr const wchar_t* kGameFolderName = L"GTA-SA";

// The entry lies under "GTA-SA" (letter case ignored), has no ":" and no empty, "." or ".."
// part, so that nothing it names can land outside the game folder.
bool IsWantedArchiveEntry(const std::wstring& name);

// Archive result codes that mean the downloaded file itself is bad (it is deleted).
bool IsCorruptArchiveCode(int code);

std::wstring ArchiveResultText(int code);
