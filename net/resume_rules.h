// Decisions of the resumable download as plain functions. Portable.
#pragma once

#include <cstdint>
#include <string>

inline constexpr uint64_t kDownloadSpaceReserve = 4368435456ull;  // room to unpack beside the archive
inline constexpr size_t kMaxValidatorBytes = 512;

// A validator goes back to the server in an If-Range header, so only a plain header value
// can be one: 1 to 512 characters, each a visible ASCII character or a space.
bool IsSafeValidator(const std::wstring& value);

// The validator of a response: a strong ETag (with its quotes), else Last-Modified; empty
// when there is none or the chosen one is not safe to send back.
std::wstring ChooseValidator(const std::wstring& etag, const std::wstring& lastModified);

// "bytes first-last/total"; true only when all three numbers are read.
bool ParseContentRange(const std::wstring& text, uint64_t& first, uint64_t& last, uint64_t& total);

// What to do with the response to a (possibly resumed) request.
enum class ResumeVerdict { Append, Overwrite, Restart, Refuse };
struct ResumeDecision {
  ResumeVerdict verdict = ResumeVerdict::Refuse;
  uint64_t resumeOffset = 0;   // where writing starts
  uint64_t expectedTotal = 0;  // size of the complete file
};
ResumeDecision DecideResume(uint32_t status, uint64_t resumeOffset, bool hasContentLength, uint64_t contentLength,
                            const std::wstring& contentRange);

// "Diskte yeterli yer yok: <needed> gerekli, <free> boş"
std::wstring NotEnoughSpaceText(uint64_t needed, uint64_t available);
