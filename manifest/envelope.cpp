#include "manifest/envelope.h"

#include <cryptopp/xed25519.h>

#include <cstring>

#include "manifest/base64.h"
#include "manifest/json_stream.h"

#ifndef TALVOREEN_SIGNING_PUBLIC_KEY
#error "TALVOREEN_SIGNING_PUBLIC_KEY must be defined by the build (see the root CMakeLists.txt)"
#endif

namespace {

constexpr size_t kPublicKeyBytes = 32;
constexpr size_t kSignatureBytes = 64;

bool VerifyEd25519(const std::string& key, const std::string& message, const std::string& signature) {
  if (key.size() != kPublicKeyBytes || signature.size() != kSignatureBytes) return false;
  try {
    CryptoPP::ed25519Verifier verifier(reinterpret_cast<const CryptoPP::byte*>(key.data()));
    return verifier.VerifyMessage(reinterpret_cast<const CryptoPP::byte*>(message.data()), message.size(),
                                  reinterpret_cast<const CryptoPP::byte*>(signature.data()), signature.size());
  } catch (...) {
    return false;
  }
}

// The three members of the root object, last one wins as with any JSON object; a member that
// is not a string counts as absent. Everything else is skipped without being kept.
class EnvelopeEvents {
 public:
  struct Member {
    bool present = false;
    const char* text = nullptr;
    size_t length = 0;
  };
  Member format, payload, signature;

  bool Open(bool isObject) {
    if (depth_ == 0 && !isObject) return false;
    if (depth_ == 1 && current_) current_->present = false;
    ++depth_;
    return true;
  }
  bool Close() {
    --depth_;
    return true;
  }
  bool Key(const char* text, size_t length) {
    if (depth_ != 1) return true;
    current_ = Is(text, length, "format") ? &format : Is(text, length, "payload") ? &payload
               : Is(text, length, "signature") ? &signature : nullptr;
    return true;
  }
  bool Scalar(const JsonScalar& value) {
    if (depth_ == 0) return false;
    if (depth_ != 1 || !current_) return true;
    current_->present = value.kind == JsonScalar::kString;
    current_->text = value.text;
    current_->length = value.length;
    return true;
  }

 private:
  static bool Is(const char* text, size_t length, const char* name) {
    return length == std::strlen(name) && std::memcmp(text, name, length) == 0;
  }
  int depth_ = 0;
  Member* current_ = nullptr;
};

}  // namespace

const char* SigningPublicKey() { return TALVOREEN_SIGNING_PUBLIC_KEY; }

bool VerifyEnvelope(const std::string& text, std::string& payload, std::wstring& error) {
  return VerifyEnvelopeWithKey(text, SigningPublicKey(), payload, error);
}

bool VerifyEnvelopeWithKey(const std::string& text, const std::string& publicKeyBase64, std::string& payload,
                           std::wstring& error) {
  error = kEnvelopeUnreadableText;
  // Read in place in one copy of the text; the payload, nearly all of it, is then moved to the
  // front of that copy instead of being copied again.
  std::string scratch = text;
  EnvelopeEvents members;
  if (!ReadJsonEventsInPlace(&scratch[0], scratch.size(), members) || !members.format.present ||
      !members.payload.present || !members.signature.present ||
      std::string(members.format.text, members.format.length) != kEnvelopeFormat) {
    return false;
  }
  std::string signatureText(members.signature.text, members.signature.length);
  const size_t payloadStart = static_cast<size_t>(members.payload.text - scratch.data());
  const size_t payloadLength = members.payload.length;
  scratch.erase(0, payloadStart);
  scratch.resize(payloadLength);
  std::string key, signature;
  if (!DecodeBase64(publicKeyBase64, key) || !DecodeBase64(scratch, payload) ||
      !DecodeBase64(signatureText, signature)) {
    return false;
  }
  if (!VerifyEd25519(key, payload, signature)) {
    error = kEnvelopeBadSignatureText;
    return false;
  }
  error.clear();
  return true;
}
