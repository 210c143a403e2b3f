// Which archive entries may be unpacked, and the texts of the archive library's result
// codes. Portable.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const wchar_t* kGameFolderName = L"GTA-SA";

// The entry lies under "GTA-SA" (letter case ignored), has no ":" and no empty, "." or ".."
// part, so that nothing it names can land outside the game folder.
bool IsWantedArchiveEntry(const std::wstring& name);

// Archive result codes that mean the downloaded file itself is bad (it is deleted).
bool IsCorruptArchiveCode(int code);

std::wstring ArchiveResultText(int code);

// Failures of the machine rather than of the archive: out of memory, a file that cannot be
// created or written (a full disk), and whatever code the library gives when the system
// error behind it says another program holds or locks a file (32, 33: an antivirus, an
// indexer, a second copy of the archive open) or an antivirus blocked or removed one (225,
// 226). Unpacking the same archive again succeeds once the cause is gone, so it is kept and
// the failure is not recorded.
bool IsMachineFailure(int code, uint32_t systemError);

// The text of an unpacking that failed with code while file was being written or read, given
// the system error behind it (0 when unknown) and the system's words for that error.
std::wstring UnpackFailureText(int code, uint32_t systemError, const std::wstring& file,
                               const std::wstring& systemText);

// Not library codes. The unpacked folder lacks key files that the archive does not hold (or
// holds in a form that is never unpacked): counts as an unpacking failure of the archive for
// the rule below.
inline constexpr int kArchiveLacksKeyFiles = 1000;
// A file the library reported written is gone (an antivirus took it at once): the machine's.
inline constexpr int kUnpackedFileRemoved = 1001;

// What is kept beside a complete archive whose unpacking failed with code.
std::string FailureRecordText(int code);
// Whether an archive that just failed with code (and systemError) is deleted, so that the next
// start downloads it again: never for a failure of the machine, at once when its data is bad,
// otherwise when the previous failure (its record, empty when none) had the same code.
bool DiscardArchiveAfterFailure(int code, uint32_t systemError, const std::string& previousRecord);

// What the marker of an unfinished installation holds. It is written before the game folder
// is touched and removed only once the installation is complete; while it exists the game
// folder is not an installation, whatever files it holds. The second text is written once
// the whole archive was unpacked and the key files are there; anything else (a torn write
// included) means a partial copy.
inline constexpr const char* kMarkerUnpacking = "unpacking\n";
inline constexpr const char* kMarkerUnpackedWhole = "unpacked whole\n";
