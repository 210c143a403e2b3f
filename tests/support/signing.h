// Test helpers for signed envelopes, on both platforms: the development key of keys/ and
// envelopes built member by member. Signing comes from the publishing tool (Crypto++).
#pragma once

#include <string>

#include "tools/publish/keys.h"

namespace testing_support {

// A file of the source tree such as "keys/development.key": its path (UTF-8) and its bytes,
// empty when unreadable. Windows tests read the copy beside the test program.
std::string SourceFilePath(const std::string& relative);
std::string ReadSourceFile(const std::string& relative);

// keys/development.key, and whether the launcher was built with its public half.
publish::SigningKey DevelopmentKey();
bool BuiltWithDevelopmentKey();

// Two hex digits a byte.
std::string BytesFromHex(const std::string& hex);

// {"format":format,"payload":base64(payload),"signature":base64(signature)} with the
// members in that order, or with extra text inserted before the closing brace.
std::string EnvelopeText(const std::string& payload, const std::string& signature,
                         const std::string& format = "talvoreen-signed-v1", const std::string& extra = "");

// The payload signed with the key, as the publisher writes it.
std::string SignedEnvelope(const publish::SigningKey& key, const std::string& payload);

}  // namespace testing_support
