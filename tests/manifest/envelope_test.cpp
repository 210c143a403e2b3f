#include <gtest/gtest.h>

#include "manifest/base64.h"
#include "manifest/envelope.h"
#include "manifest/signing_key.h"
#include "tests/support/signing.h"
#include "tools/publish/keys.h"

using testing_support::BytesFromHex;
using testing_support::EnvelopeText;

namespace {

const std::wstring kUnreadable = L"Güncelleme bilgisi okunamadı";
const std::wstring kBadSignature = L"Güncelleme imzası geçersiz; dosyalar indirilmedi";

publish::SigningKey TestKey() {
  publish::SigningKey key;
  publish::SigningKeyFromSeed(BytesFromHex("4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb"), key);
  return key;
}

std::string TestKeyText() { return publish::EncodeBase64(TestKey().publicKey); }

const std::string kPayload = "{\n  \"schema\": 1,\n  \"product\": \"Talvoreen\"\n}\n";

bool Verify(const std::string& text, std::string& payload, std::wstring& error) {
  return VerifyEnvelopeWithKey(text, TestKeyText(), payload, error);
}

// RFC 8032 section 7.1, tests 1 and 2: the signer and the verifier are plain Ed25519.
TEST(Ed25519, MatchesTheRfc8032Vectors) {
  struct Vector {
    const char *secret, *publicKey, *message, *signature;
  };
  const Vector vectors[] = {
      {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
       "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe2"
       "4655141438e7a100b"},
      {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
       "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302ae"
       "eb00d291612bb0c00"},
  };
  for (const Vector& v : vectors) {
    publish::SigningKey key;
    ASSERT_TRUE(publish::SigningKeyFromSeed(BytesFromHex(v.secret), key));
    EXPECT_EQ(key.publicKey, BytesFromHex(v.publicKey));
    const std::string message = BytesFromHex(v.message);
    EXPECT_EQ(publish::SignMessage(key, message), BytesFromHex(v.signature));

    std::string payload;
    std::wstring error = L"x";
    EXPECT_TRUE(VerifyEnvelopeWithKey(EnvelopeText(message, BytesFromHex(v.signature)),
                                      publish::EncodeBase64(key.publicKey), payload, error));
    EXPECT_EQ(payload, message);
    EXPECT_EQ(error, L"");
  }
}

TEST(VerifyEnvelope, AcceptsAPublishedEnvelope) {
  std::string payload;
  std::wstring error = L"old";
  ASSERT_TRUE(Verify(testing_support::SignedEnvelope(TestKey(), kPayload), payload, error));
  EXPECT_EQ(payload, kPayload);
  EXPECT_EQ(error, L"");
}

TEST(VerifyEnvelope, OneChangedByteBreaksTheSignature) {
  const std::string signature = publish::SignMessage(TestKey(), kPayload);
  std::string payload;
  std::wstring error;

  // Before base64: other bytes, signature of the original.
  std::string changed = kPayload;
  changed[5] ^= 0x01;
  EXPECT_FALSE(Verify(EnvelopeText(changed, signature), payload, error));
  EXPECT_EQ(error, kBadSignature);
  EXPECT_EQ(payload, changed);  // filled before the signature check

  // After base64: one character of the payload text replaced by another valid one.
  std::string text = EnvelopeText(kPayload, signature);
  const size_t at = text.find("\"payload\":\"") + 12;
  text[at] = text[at] == 'A' ? 'B' : 'A';
  EXPECT_FALSE(Verify(text, payload, error));
  EXPECT_EQ(error, kBadSignature);

  std::string badSignature = signature;
  badSignature[10] ^= 0x40;
  EXPECT_FALSE(Verify(EnvelopeText(kPayload, badSignature), payload, error));
  EXPECT_EQ(error, kBadSignature);

  // A trailing line break added to the payload is a different message too.
  EXPECT_FALSE(Verify(EnvelopeText(kPayload + "\n", signature), payload, error));
  EXPECT_EQ(error, kBadSignature);
}

TEST(VerifyEnvelope, MemberOrderAndExtraMembersDoNotMatter) {
  const std::string signature = publish::SignMessage(TestKey(), kPayload);
  const std::string p = publish::EncodeBase64(kPayload), s = publish::EncodeBase64(signature);
  const std::string texts[] = {
      "{\"signature\":\"" + s + "\",\"payload\":\"" + p + "\",\"format\":\"talvoreen-signed-v1\"}",
      "{\"note\":\"x\",\"payload\":\"" + p + "\",\"format\":\"talvoreen-signed-v1\",\"n\":[1,{}],\"signature\":\"" + s +
          "\"}",
      " \n{ \"format\" : \"talvoreen-signed-v1\" , \"payload\" : \"" + p + "\" , \"signature\" : \"" + s + "\" }\n",
      // A repeated member: the last one counts, as in any JSON object.
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"eA==\",\"signature\":[],\"payload\":\"" + p +
          "\",\"signature\":\"" + s + "\"}",
  };
  for (const std::string& text : texts) {
    std::string payload;
    std::wstring error;
    EXPECT_TRUE(Verify(text, payload, error)) << text;
    EXPECT_EQ(payload, kPayload);
  }
}

TEST(VerifyEnvelope, OtherFormatValuesAreUnreadable) {
  const std::string signature = publish::SignMessage(TestKey(), kPayload);
  for (const char* format :
       {"talvoreen-signed-v2", "TALVOREEN-SIGNED-V1", " talvoreen-signed-v1", "talvoreen-signed-v1 ", ""}) {
    std::string payload;
    std::wstring error;
    EXPECT_FALSE(Verify(EnvelopeText(kPayload, signature, format), payload, error)) << format;
    EXPECT_EQ(error, kUnreadable);
  }
}

TEST(VerifyEnvelope, MissingOrNonStringMembersAreUnreadable) {
  const std::string p = publish::EncodeBase64(kPayload);
  const std::string s = publish::EncodeBase64(publish::SignMessage(TestKey(), kPayload));
  const std::string texts[] = {
      "{\"payload\":\"" + p + "\",\"signature\":\"" + s + "\"}",
      "{\"format\":\"talvoreen-signed-v1\",\"signature\":\"" + s + "\"}",
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"" + p + "\"}",
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":{\"a\":1},\"signature\":\"" + s + "\"}",
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"" + p + "\",\"signature\":64}",
      "{\"format\":1,\"payload\":\"" + p + "\",\"signature\":\"" + s + "\"}",
      "[\"talvoreen-signed-v1\",\"" + p + "\",\"" + s + "\"]",
      "\"talvoreen-signed-v1\"",
      "",
      "<!DOCTYPE html>\n<html><head><title>502 Bad Gateway</title></head><body>nginx</body></html>\n",
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"" + p + "\",\"signature\":\"" + s.substr(0, 10),
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"" + p + "\",\"signature\":\"" + s + "\",\"payload\":null}",
      // Only strict JSON: no comment, no trailing comma, nothing after a NUL byte.
      "{\"format\":\"talvoreen-signed-v1\",/**/\"payload\":\"" + p + "\",\"signature\":\"" + s + "\"}",
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"" + p + "\",\"signature\":\"" + s + "\",}",
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"" + p + "\",\"signature\":\"" + s + "\"}" +
          std::string(1, '\0') + "x",
      // Nesting beyond 32 levels is refused before it is followed any further.
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"" + p + "\",\"signature\":\"" + s + "\",\"n\":" +
          std::string(32, '[') + std::string(32, ']') + "}",
  };
  for (const std::string& text : texts) {
    std::string payload;
    std::wstring error;
    EXPECT_FALSE(Verify(text, payload, error)) << text;
    EXPECT_EQ(error, kUnreadable) << text;
  }
}

// Foreign characters inside the text: what follows complete padding is a matter of the
// platform decoder (Wine's stops there), so the tests do not rely on it.
TEST(VerifyEnvelope, InvalidBase64IsUnreadable) {
  const std::string p = publish::EncodeBase64(kPayload);
  const std::string s = publish::EncodeBase64(publish::SignMessage(TestKey(), kPayload));
  const std::string texts[] = {
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"" + p.substr(0, 8) + "*" + p.substr(8) +
          "\",\"signature\":\"" + s + "\"}",
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"%%%%\",\"signature\":\"" + s + "\"}",
      "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"" + p + "\",\"signature\":\"" + s.substr(0, 20) + "!" +
          s.substr(20) + "\"}",
  };
  for (const std::string& text : texts) {
    std::string payload;
    std::wstring error;
    EXPECT_FALSE(Verify(text, payload, error)) << text;
    EXPECT_EQ(error, kUnreadable) << text;
  }
}

TEST(VerifyEnvelope, SignaturesOf63And65BytesAreInvalidNotUnreadable) {
  const std::string signature = publish::SignMessage(TestKey(), kPayload);
  for (const std::string& wrong : {signature.substr(0, 63), signature + "x", std::string(), std::string(128, 'a')}) {
    std::string payload;
    std::wstring error;
    EXPECT_FALSE(Verify(EnvelopeText(kPayload, wrong), payload, error)) << wrong.size();
    EXPECT_EQ(error, kBadSignature);
  }
}

TEST(VerifyEnvelope, AnotherKeyDoesNotVerify) {
  publish::SigningKey other;
  ASSERT_TRUE(publish::SigningKeyFromSeed(std::string(32, '\x07'), other));
  std::string payload;
  std::wstring error;
  EXPECT_FALSE(Verify(testing_support::SignedEnvelope(other, kPayload), payload, error));
  EXPECT_EQ(error, kBadSignature);
  // A key that is not 32 bytes can never verify.
  EXPECT_FALSE(VerifyEnvelopeWithKey(testing_support::SignedEnvelope(TestKey(), kPayload),
                                     publish::EncodeBase64(std::string(31, 'k')), payload, error));
  EXPECT_EQ(error, kBadSignature);
}

TEST(VerifyEnvelope, UsesTheCompiledInKey) {
  EXPECT_EQ(std::string(SigningPublicKey()).size(), 44u);
  if (!testing_support::BuiltWithDevelopmentKey()) GTEST_SKIP() << "built with a key other than keys/development.pub";
  std::string payload;
  std::wstring error;
  EXPECT_TRUE(
      VerifyEnvelope(testing_support::SignedEnvelope(testing_support::DevelopmentKey(), kPayload), payload, error));
  EXPECT_EQ(payload, kPayload);
  EXPECT_FALSE(VerifyEnvelope(testing_support::SignedEnvelope(TestKey(), kPayload), payload, error));
  EXPECT_EQ(error, kBadSignature);
}

// The fingerprint support reads in the log: the development key's is what
// `base64 -d keys/development.pub | sha256sum | cut -c1-8` prints.
TEST(SigningKey, FingerprintIsTheStartOfTheKeysSha256) {
  EXPECT_EQ(KeyFingerprint("pkpFbQauKE1QJt3ThVwVixjbkEjaIdAT2YlKpFOIGzI="), "c56d656f");
  EXPECT_EQ(KeyFingerprint("not a key"), "");
  EXPECT_EQ(KeyFingerprint("AAAA"), "");  // three bytes
  EXPECT_EQ(IsDevelopmentSigningKey(), testing_support::BuiltWithDevelopmentKey());
  EXPECT_EQ(SigningKeyFingerprint(), KeyFingerprint(SigningPublicKey()));
}

TEST(DecodeBase64, PlainBase64WithPaddingAndLineBreaks) {
  std::string bytes;
  EXPECT_TRUE(DecodeBase64("aGVsbG8=", bytes));
  EXPECT_EQ(bytes, "hello");
  EXPECT_TRUE(DecodeBase64("aGVs\r\nbG8h", bytes));
  EXPECT_EQ(bytes, "hell\x6f!");
  EXPECT_TRUE(DecodeBase64("", bytes));
  EXPECT_EQ(bytes, "");
  EXPECT_TRUE(DecodeBase64("AAEC/w==", bytes));
  EXPECT_EQ(bytes, std::string("\x00\x01\x02\xff", 4));
  EXPECT_FALSE(DecodeBase64("aGVs*bG8=", bytes));
  EXPECT_FALSE(DecodeBase64("-_-_", bytes));  // the URL alphabet is not the standard one
}

}  // namespace
