#include "tests/support/signing.h"

#include <fstream>
#include <iterator>

#include "manifest/envelope.h"

#ifdef _WIN32
#include "base/text.h"
#include "tests/support/test_support.h"
#endif

namespace testing_support {

std::string SourceFilePath(const std::string& relative) {
#ifdef _WIN32
  return Utf8FromWide(TestFile(WideFromUtf8(relative)));
#else
  return std::string(TALVOREEN_TEST_SOURCE_DIR) + "/" + relative;
#endif
}

std::string ReadSourceFile(const std::string& relative) {
#ifdef _WIN32
  // A narrow path would pass through the ANSI code page, which cannot hold every folder name.
  return ReadBytes(TestFile(WideFromUtf8(relative)));
#else
  std::ifstream in(SourceFilePath(relative), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
#endif
}

publish::SigningKey DevelopmentKey() {
  publish::SigningKey key;
  std::string error;
  publish::DecodePrivateKeyPem(ReadSourceFile("keys/development.key"), key, error);
  return key;
}

bool BuiltWithDevelopmentKey() { return publish::EncodeBase64(DevelopmentKey().publicKey) == SigningPublicKey(); }

std::string BytesFromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string EnvelopeText(const std::string& payload, const std::string& signature, const std::string& format,
                         const std::string& extra) {
  return "{\"format\":\"" + format + "\",\"payload\":\"" + publish::EncodeBase64(payload) + "\",\"signature\":\"" +
         publish::EncodeBase64(signature) + "\"" + extra + "}";
}

std::string SignedEnvelope(const publish::SigningKey& key, const std::string& payload) {
  return publish::MakeEnvelope(key, payload);
}

}  // namespace testing_support
