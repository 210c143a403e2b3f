#include "manifest/chunking.h"

#include <algorithm>
#include <cstring>

#include "manifest/hashing.h"
#include "manifest/json_stream.h"
#include "manifest/manifest.h"
#include "manifest/rules.h"

uint64_t SplitMix64(uint64_t& state) {
  state += 0x9E3779B97F4A7C15ull;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

namespace {

struct GearTable {
  uint64_t values[256];
  GearTable() {
    uint64_t state = kChunkGearSeed;
    for (uint64_t& value : values) value = SplitMix64(state);
  }
};

constexpr uint64_t TopBits(int bits) { return ~0ull << (64 - bits); }
constexpr uint64_t kMaskBeforeAvg = TopBits(kChunkBitsBeforeAvg);
constexpr uint64_t kMaskAfterAvg = TopBits(kChunkBitsAfterAvg);

}  // namespace

const uint64_t* ChunkGearTable() {
  static const GearTable table;
  return table.values;
}

size_t ChunkCutter::Scan(const unsigned char* data, size_t length, bool& cut) {
  cut = false;
  size_t at = 0;
  if (length_ < kChunkMin) {
    const size_t skip = static_cast<size_t>(std::min<uint64_t>(length, kChunkMin - length_));
    length_ += skip;
    at = skip;
  }
  const uint64_t* gear = ChunkGearTable();
  uint64_t hash = hash_;
  // Two loops so that the test inside each is one mask: the stricter one up to the average
  // size pulls chunk sizes towards it from below, the looser one after it from above.
  while (at < length && length_ < kChunkAvg) {
    hash = (hash << 1) + gear[data[at++]];
    ++length_;
    if (!(hash & kMaskBeforeAvg)) {
      cut = true;
      break;
    }
  }
  while (!cut && at < length) {
    hash = (hash << 1) + gear[data[at++]];
    ++length_;
    if (!(hash & kMaskAfterAvg) || length_ >= kChunkMax) cut = true;
  }
  if (cut) {
    hash = 0;
    length_ = 0;
  }
  hash_ = hash;
  return at;
}

ChunkHasher::ChunkHasher() : hasher_(std::make_unique<Hasher>(kHashSha256)) {}
ChunkHasher::~ChunkHasher() = default;

void ChunkHasher::Update(const void* data, size_t length) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  while (length > 0) {
    const uint64_t before = cutter_.Pending();
    bool cut = false;
    const size_t taken = cutter_.Scan(bytes, length, cut);
    hasher_->Update(bytes, taken);
    bytes += taken;
    length -= taken;
    if (cut) {
      chunks_.push_back(ChunkEntry{offset_, static_cast<uint32_t>(before + taken), hasher_->FinishHex()});
      offset_ += before + taken;
      hasher_ = std::make_unique<Hasher>(kHashSha256);
    }
  }
}

void ChunkHasher::Finish() {
  const uint64_t pending = cutter_.Pending();
  if (pending == 0 || !hasher_) return;
  chunks_.push_back(ChunkEntry{offset_, static_cast<uint32_t>(pending), hasher_->FinishHex()});
  offset_ += pending;
  cutter_ = ChunkCutter();
  hasher_.reset();
}

std::string ChunkListPath(const std::string& fileSha256) {
  return "game/chunks/" + fileSha256.substr(0, 2) + "/" + fileSha256 + ".json";
}

std::string ChunkObjectPath(const std::string& chunkSha256) {
  return "game/objects/" + chunkSha256.substr(0, 2) + "/" + chunkSha256 + ".gz";
}

std::string WriteChunkList(const ChunkList& list) {
  std::string text;
  text.reserve(200 + list.chunks.size() * 112);
  text += "{\"format\":\"";
  text += kChunkListFormat;
  text += "\",\"size\":" + std::to_string(list.size) + ",\"sha256\":\"" + list.sha256 + "\",\"chunker\":{\"name\":\"";
  text += kChunkerName;
  text += "\",\"min\":" + std::to_string(kChunkMin) + ",\"avg\":" + std::to_string(kChunkAvg) +
          ",\"max\":" + std::to_string(kChunkMax) + "},\"chunks\":[";
  for (size_t i = 0; i < list.chunks.size(); ++i) {
    const ChunkEntry& chunk = list.chunks[i];
    if (i) text += ',';
    text += "{\"offset\":" + std::to_string(chunk.offset) + ",\"size\":" + std::to_string(chunk.size) +
            ",\"sha256\":\"" + chunk.sha256 + "\"}";
  }
  text += "]}";
  return text;
}

namespace {

// Reads the list as events: every member is checked as it arrives, so a refused document
// stops at its first fault and what is kept never passes kMaxChunkListChunks entries.
class ChunkListEvents {
 public:
  explicit ChunkListEvents(ChunkList& list) : list_(list) {}

  bool Open(bool isObject) {
    switch (place_) {
      case kTop:
        return isObject && (place_ = kRoot, true);
      case kRoot:
        if (isObject && key_ == kChunker) return (place_ = kInChunker, true);
        if (!isObject && key_ == kChunks) return (place_ = kInChunks, true);
        return false;
      case kInChunks:
        if (!isObject || list_.chunks.size() >= kMaxChunkListChunks) return false;
        entry_ = ChunkEntry();
        entrySeen_ = 0;
        return (place_ = kInEntry, true);
      default:
        return false;
    }
  }

  bool Close() {
    switch (place_) {
      case kRoot:
        place_ = kDone;
        return rootSeen_ == (1u << kRootKeys) - 1 && total_ == list_.size &&
               list_.chunks.size() <= list_.size / kChunkMin + 1;
      case kInChunker:
        place_ = kRoot;
        return chunkerSeen_ == 0xF;
      case kInChunks:
        place_ = kRoot;
        return true;
      case kInEntry:
        place_ = kInChunks;
        if (entrySeen_ != 0x7 || entry_.offset != total_) return false;
        total_ += entry_.size;
        list_.chunks.push_back(std::move(entry_));
        return true;
      default:
        return false;
    }
  }

  bool Key(const char* text, size_t length) {
    const std::string key(text, length);
    if (place_ == kRoot) {
      static const char* const kNames[] = {"format", "size", "sha256", "chunker", "chunks"};
      return Mark(key, kNames, kRootKeys, rootSeen_);
    }
    if (place_ == kInChunker) {
      static const char* const kNames[] = {"name", "min", "avg", "max"};
      return Mark(key, kNames, 4, chunkerSeen_);
    }
    if (place_ == kInEntry) {
      static const char* const kNames[] = {"offset", "size", "sha256"};
      return Mark(key, kNames, 3, entrySeen_);
    }
    return false;
  }

  bool Scalar(const JsonScalar& value) {
    const bool isInteger = value.kind == JsonScalar::kInteger;
    const bool isString = value.kind == JsonScalar::kString;
    const std::string text = isString ? std::string(value.text, value.length) : std::string();
    if (place_ == kRoot) {
      switch (key_) {
        case kFormat: return isString && text == kChunkListFormat;
        case kSize: return isInteger && value.integer <= kMaxGameFileSize && (list_.size = value.integer, true);
        case kSha256: return isString && IsLowerHex64(text) && (list_.sha256 = text, true);
        default: return false;
      }
    }
    if (place_ == kInChunker) {
      static const uint64_t kValues[] = {0, kChunkMin, kChunkAvg, kChunkMax};
      return key_ == 0 ? isString && text == kChunkerName : isInteger && value.integer == kValues[key_];
    }
    if (place_ == kInEntry) {
      switch (key_) {
        case 0: return isInteger && value.integer <= kMaxGameFileSize && (entry_.offset = value.integer, true);
        case 1:
          return isInteger && value.integer >= 1 && value.integer <= kChunkMax &&
                 (entry_.size = static_cast<uint32_t>(value.integer), true);
        default: return isString && IsLowerHex64(text) && (entry_.sha256 = text, true);
      }
    }
    return false;
  }

  bool Accepted() const { return place_ == kDone; }

 private:
  enum Place { kTop, kRoot, kInChunker, kInChunks, kInEntry, kDone };
  enum RootKey { kFormat, kSize, kSha256, kChunker, kChunks, kRootKeys };

  // Each known key once; its index becomes the key at hand.
  bool Mark(const std::string& key, const char* const* names, int count, unsigned& seen) {
    for (int i = 0; i < count; ++i) {
      if (key == names[i]) {
        if (seen & (1u << i)) return false;
        seen |= 1u << i;
        key_ = i;
        return true;
      }
    }
    return false;
  }

  ChunkList& list_;
  Place place_ = kTop;
  int key_ = -1;
  unsigned rootSeen_ = 0;
  unsigned chunkerSeen_ = 0;
  unsigned entrySeen_ = 0;
  ChunkEntry entry_;
  uint64_t total_ = 0;
};

}  // namespace

bool ParseChunkList(const std::string& text, ChunkList& out, std::wstring& error) {
  ChunkList list;
  ChunkListEvents events(list);
  if (text.size() > kMaxChunkListBytes || !ReadJsonEvents(text, events) || !events.Accepted()) {
    error = kChunkListUnreadableText;
    return false;
  }
  out = std::move(list);
  error.clear();
  return true;
}
