// The signed envelope "talvoreen-signed-v1": a JSON object whose `payload` is the
// base64 text of the manifest bytes and whose `signature` is the base64 text of a plain
// Ed25519 signature (RFC 8032) over exactly those bytes. Stateless; safe from any thread.
#pragma once

#include <string>

inline constexpr char kEnvelopeFormat[] = "talvoreen-signed-v1";
inline constexpr wchar_t kEnvelopeUnreadableText[] = L"Güncelleme bilgisi okunamadı";
inline constexpr wchar_t kEnvelopeBadSignatureText[] = L"Güncelleme imzası geçersiz; dosyalar indirilmedi";

// The public key compiled into the launcher (CMake cache variable TALVOREEN_SIGNING_PUBLIC_KEY):
// 44 base64 characters of the 32-byte key.
const char* SigningPublicKey();

// Verifies text against the compiled-in key. payload receives the decoded manifest bytes
// even when the signature fails; use it only after a true result. error is emptied on success.
bool VerifyEnvelope(const std::string& text, std::string& payload, std::wstring& error);

// The same with another key (base64 text), for the publishing tool and for tests.
bool VerifyEnvelopeWithKey(const std::string& text, const std::string& publicKeyBase64, std::string& payload,
                           std::wstring& error);
