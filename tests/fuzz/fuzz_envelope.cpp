// libFuzzer target: the signed envelope and the base64 seam under it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "manifest/base64.h"
#include "manifest/envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string payload;
  std::wstring error;
  const bool verified = VerifyEnvelope(text, payload, error);
  // Exactly one of the two texts on failure, none on success.
  if (verified != error.empty()) std::abort();
  if (!verified && error != kEnvelopeUnreadableText && error != kEnvelopeBadSignatureText) std::abort();
  std::string bytes;
  if (DecodeBase64(text, bytes) && bytes.size() > size) std::abort();
  return 0;
}
