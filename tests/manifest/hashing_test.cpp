#include <gtest/gtest.h>

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>
#include <cryptopp/sha.h>

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

// Crypto++, independent of BCrypt.
std::string ReferenceSha256(const std::string& bytes) {
  CryptoPP::SHA256 hash;
  unsigned char digest[32];
  hash.CalculateDigest(digest, reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size());
  return LowerHex(digest, 32);
}

std::string ReferenceMd5(const std::string& bytes) {
  CryptoPP::Weak::MD5 hash;
  unsigned char digest[16];
  hash.CalculateDigest(digest, reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size());
  return LowerHex(digest, 16);
}

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
