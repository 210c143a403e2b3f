#include <gtest/gtest.h>
#include <windows.h>
#include <bcrypt.h>

#include <cryptopp/cpu.h>

#include <algorithm>
#include <vector>

#include "manifest/hashing.h"
#include "manifest/rules.h"
#include "tests/support/test_support.h"

using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

const char kEmptySha256[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const char kEmptyMd5[] = "d41d8cd98f00b204e9800998ecf8427e";

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 11);
  return bytes;
}

// The platform's digests, which the launcher used before and which the engine must match.
std::string Bcrypt(HashKind kind, const std::string& bytes) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  const ULONG length = kind == kHashMd5 ? 16 : 32;
  unsigned char digest[32];
  EXPECT_TRUE(BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(
      &provider, kind == kHashMd5 ? BCRYPT_MD5_ALGORITHM : BCRYPT_SHA256_ALGORITHM, nullptr, 0)));
  EXPECT_TRUE(BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0)));
  EXPECT_TRUE(BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                            static_cast<ULONG>(bytes.size()), 0)));
  EXPECT_TRUE(BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, length, 0)));
  BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(provider, 0);
  return LowerHex(digest, length);
}
std::string ReferenceSha256(const std::string& bytes) { return Bcrypt(kHashSha256, bytes); }
std::string ReferenceMd5(const std::string& bytes) { return Bcrypt(kHashMd5, bytes); }

std::string Digest(HashKind kind, const std::string& bytes) {
  Hasher hasher(kind);
  hasher.Update(bytes.data(), bytes.size());
  return hasher.FinishHex();
}

TEST(Hasher, DigestsOfEmptyAndKnownInput) {
  EXPECT_EQ(Digest(kHashSha256, ""), kEmptySha256);
  EXPECT_EQ(Digest(kHashMd5, ""), kEmptyMd5);
  EXPECT_EQ(Digest(kHashSha256, "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Digest(kHashMd5, "abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Digest(7, "abc"), Digest(kHashSha256, "abc"));  // every kind but 1 is SHA-256
  EXPECT_EQ(Digest(-1, "").size(), 64u);
}

TEST(Hasher, PiecesGiveTheSameDigestAsOneUpdate) {
  const std::string bytes = Pattern(3 * 1048576 + 5);
  Hasher sha(kHashSha256), md5(kHashMd5);
  for (size_t offset = 0; offset < bytes.size(); offset += 70001) {
    const size_t n = std::min<size_t>(70001, bytes.size() - offset);
    sha.Update(bytes.data() + offset, n);
    md5.Update(bytes.data() + offset, n);
  }
  sha.Update(nullptr, 0);
  EXPECT_EQ(sha.FinishHex(), ReferenceSha256(bytes));
  EXPECT_EQ(md5.FinishHex(), ReferenceMd5(bytes));
}

// Sizes around the 1 MiB read and the 64-byte block, in one table: a file, and a reader kept
// from file to file (larger files before smaller ones, so stale bytes would show), must give
// BCrypt's digest.
TEST(HashFile, DigestsMatchBcryptAtEveryEdge) {
  TempDir dir;
  FileHashReader reader;
  const size_t sizes[] = {3 * 1048576 + 5, 1048577, 1048576, 1048575, 65, 64, 63, 1, 0};
  for (size_t size : sizes) {
    const std::string bytes = Pattern(size);
    const std::wstring path = dir.Join(L"f" + std::to_wstring(size));
    ASSERT_TRUE(WriteBytes(path, bytes));
    for (HashKind kind : {kHashSha256, kHashMd5}) {
      SCOPED_TRACE(testing::Message() << size << " bytes, kind " << kind);
      const std::string expected = Bcrypt(kind, bytes);
      std::string hex;
      uint64_t reported = 0;
      ASSERT_TRUE(HashFile(kind, path, hex, [&](uint64_t n) { reported += n; }, nullptr));
      EXPECT_EQ(hex, expected);
      EXPECT_EQ(reported, size);
      hex.clear();
      ASSERT_TRUE(reader.Hash(kind, path, hex, nullptr, nullptr));
      EXPECT_EQ(hex, expected);
    }
  }
}

// A Crypto++ built without the SHA instruction paths digests correctly but several times slower.
TEST(Hasher, UsesTheProcessorsShaInstructionsWhereItHasThem) {
  const std::string engine = HashEngineDescription();
  EXPECT_EQ(engine.find("SHA-256: SHANI") != std::string::npos, CryptoPP::HasSHA()) << engine;
}

TEST(HashFile, EmptyFileGivesTheDigestOfEmptyInput) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.Join(L"empty"), ""));
  std::string hex = "old";
  int calls = 0;
  EXPECT_TRUE(HashFile(
      kHashSha256, dir.Join(L"empty"), hex, [&](uint64_t) { ++calls; }, nullptr));
  EXPECT_EQ(hex, kEmptySha256);
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(HashFile(kHashMd5, dir.Join(L"empty"), hex, nullptr, nullptr));
  EXPECT_EQ(hex, kEmptyMd5);
}

TEST(HashFile, ReadsInOneMebibytePiecesAndReportsEach) {
  TempDir dir;
  const std::string bytes = Pattern(2 * 1048576 + 524288);
  const std::wstring path = dir.Join(L"big \u015Fehir.bin");
  ASSERT_TRUE(WriteBytes(path, bytes));
  std::vector<uint64_t> pieces;
  std::string hex;
  ASSERT_TRUE(HashFile(
      kHashSha256, path, hex, [&](uint64_t n) { pieces.push_back(n); }, nullptr));
  EXPECT_EQ(hex, ReferenceSha256(bytes));
  EXPECT_EQ(pieces, (std::vector<uint64_t>{1048576, 1048576, 524288}));
  ASSERT_TRUE(HashFile(kHashMd5, path, hex, nullptr, nullptr));
  EXPECT_EQ(hex, ReferenceMd5(bytes));
}

TEST(HashFile, CancelStopsAtTheNextMebibyteBoundary) {
  TempDir dir;
  const std::wstring path = dir.Join(L"big.bin");
  ASSERT_TRUE(WriteBytes(path, Pattern(4 * 1048576)));
  std::atomic<bool> cancel{false};
  std::vector<uint64_t> pieces;
  std::string hex = "unchanged";
  EXPECT_FALSE(HashFile(
      kHashSha256, path, hex,
      [&](uint64_t n) {
        pieces.push_back(n);
        cancel = true;
      },
      &cancel));
  EXPECT_EQ(pieces, (std::vector<uint64_t>{1048576}));
  EXPECT_EQ(hex, "unchanged");

  // Set before the first read: nothing is read.
  pieces.clear();
  EXPECT_FALSE(HashFile(
      kHashSha256, path, hex, [&](uint64_t n) { pieces.push_back(n); }, &cancel));
  EXPECT_TRUE(pieces.empty());
  cancel = false;
  EXPECT_TRUE(HashFile(kHashSha256, path, hex, nullptr, &cancel));
}

TEST(HashFile, MissingFileLeavesTheTextAlone) {
  TempDir dir;
  std::string hex = "unchanged";
  EXPECT_FALSE(HashFile(kHashSha256, dir.Join(L"missing"), hex, nullptr, nullptr));
  EXPECT_FALSE(HashFile(kHashSha256, dir.Path(), hex, nullptr, nullptr));  // a folder
  EXPECT_EQ(hex, "unchanged");
}

TEST(HashFile, SharingDecidesWhetherAnOpenFileCanBeRead) {
  TempDir dir;
  const std::wstring path = dir.Join(L"held.bin");
  ASSERT_TRUE(WriteBytes(path, "abc"));
  std::string hex = "unchanged";
  {  // Open elsewhere without read sharing: refused at the open.
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(HashFile(kHashSha256, path, hex, nullptr, nullptr));
    EXPECT_EQ(hex, "unchanged");
    CloseHandle(held);
  }
  {  // Open elsewhere for writing with sharing allowed: digested.
    HANDLE held = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(HashFile(kHashSha256, path, hex, nullptr, nullptr));
    EXPECT_EQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    CloseHandle(held);
  }
}

}  // namespace
