// Ed25519 signing keys and the signed envelope, made with Crypto++ (the launcher verifies
// them). A private key file is PKCS#8 in PEM form, as OpenSSL writes it.
#pragma once

#include <string>

namespace publish {

struct SigningKey {
  std::string seed;       // 32 bytes, the private key of RFC 8032
  std::string publicKey;  // 32 bytes
};

bool GenerateSigningKey(SigningKey& key, std::string& error);
bool SigningKeyFromSeed(const std::string& seed, SigningKey& key);

std::string EncodePrivateKeyPem(const SigningKey& key);
bool DecodePrivateKeyPem(const std::string& text, SigningKey& key, std::string& error);

std::string SignMessage(const SigningKey& key, const std::string& message);

// Standard base64 with padding and without line breaks.
std::string EncodeBase64(const std::string& bytes);

// {"format":"talvoreen-signed-v1","payload":...,"signature":...} and a line break.
std::string MakeEnvelope(const SigningKey& key, const std::string& payload);

// A public key given on the command line: its 44 base64 characters, or a file holding them.
bool ReadPublicKeyArgument(const std::string& argument, std::string& base64, std::string& error);

}  // namespace publish
