#include "manifest/envelope.h"

#include <cryptopp/xed25519.h>
#include <json-c/json.h>

#include "manifest/base64.h"
#include "manifest/json.h"

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

}  // namespace

const char* SigningPublicKey() { return TALVOREEN_SIGNING_PUBLIC_KEY; }

bool VerifyEnvelope(const std::string& text, std::string& payload, std::wstring& error) {
  return VerifyEnvelopeWithKey(text, SigningPublicKey(), payload, error);
}

bool VerifyEnvelopeWithKey(const std::string& text, const std::string& publicKeyBase64, std::string& payload,
                           std::wstring& error) {
  error = kEnvelopeUnreadableText;
  JsonPtr root = ParseJson(text);
  std::string format, payloadText, signatureText;
  if (!JsonIsObject(root.get()) || !JsonGetString(root.get(), "format", format) || format != kEnvelopeFormat ||
      !JsonGetString(root.get(), "payload", payloadText) || !JsonGetString(root.get(), "signature", signatureText)) {
    return false;
  }
  std::string key, signature;
  if (!DecodeBase64(publicKeyBase64, key) || !DecodeBase64(payloadText, payload) ||
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
