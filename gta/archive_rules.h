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

// Not a library code: the unpacked folder lacks the key files. Counts as an unpacking
// failure of the archive for the rule below.
inline constexpr int kArchiveLacksKeyFiles = 1000;

// What is kept beside a complete archive whose unpacking failed with code.
std::string FailureRecordText(int code);
// Whether an archive that just failed with code is deleted, so that the next start downloads
// it again: at once when its data is bad, otherwise when the previous failure (its record,
// empty when none) had the same code.
bool DiscardArchiveAfterFailure(int code, const std::string& previousRecord);
