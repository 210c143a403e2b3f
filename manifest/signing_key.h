// Which key this build trusts, in a form support can read at a glance.
#pragma once

#include <string>

// The first 8 hex digits of the SHA-256 of the 32 key bytes behind a base64 public key;
// empty when the text is not a key.
std::string KeyFingerprint(const std::string& publicKeyBase64);

// The fingerprint of the compiled-in key, and whether it is the development key of keys/
// (whose private half is public: such a build must never reach players).
std::string SigningKeyFingerprint();
bool IsDevelopmentSigningKey();

// The log line that follows a run's header line: "key <fingerprint>", then " | DEVELOPMENT
// SIGNING KEY, NOT A RELEASE" in a build that trusts the development key. A line of its own,
// so that scripts reading the header up to its end keep reading what they always did.
std::wstring BuildKeyLine();
