#include "sync/sync_plan.h"

#include <algorithm>
#include <cwchar>
#include <unordered_set>

#include "base/format.h"
#include "base/text.h"
#include "base/version.h"
#include "manifest/rules.h"
#include "sync/path_index.h"

namespace {

constexpr uint32_t kDefaultHttpThreads = 8;
constexpr uint32_t kDefaultDosThreshold = 20;
constexpr uint32_t kDefaultKeepAliveMax = 100;

bool EndsWithIgnoringCase(const std::string& text, const char* suffix) {
  const size_t length = std::char_traits<char>::length(suffix);
  return text.size() >= length && AsciiLower(text.substr(text.size() - length)) == suffix;
}

// Takes the path from file: the manifest's entries move into the new record.
InstalledFile Entry(ManifestFile& file, std::string hash, uint64_t size, uint64_t mtime) {
  InstalledFile entry;
  entry.path = std::move(file.path);
  entry.hash = std::move(hash);
  entry.size = size;
  entry.mtime = mtime;
  entry.keep = file.keep;
  return entry;
}

std::wstring AddressOrUnknown(const std::wstring& address) { return address.empty() ? L"?" : address; }

std::wstring Number(uint64_t value) { return DecimalText(static_cast<unsigned long long>(value)); }

std::wstring Kib(uint64_t bytes) { return Number(bytes >> 10); }

}  // namespace

std::wstring RequestFailedLogLine(const std::wstring& tag, const std::wstring& url, const FetchFacts& facts) {
  return L"[" + tag + L"] " + url + L": HTTP " + Number(facts.status) + L" from " +
         AddressOrUnknown(facts.remoteAddress) + L": " + facts.error;
}

std::wstring RequestFailedText(bool gameMode, const FetchFacts& facts) {
  if (gameMode) return L"Güncellemeler denetlenemedi: " + facts.error;
  if (facts.status == 404) return L"Sunucu dosya listesini vermiyor (sunucu sürümü eski)";
  if (facts.status == 503) return L"Sunucu henüz hazır değil, biraz sonra tekrar dene";
  return JoinReason(L"Sunucuya ulaşılamadı", facts.error);
}

std::wstring TryDiagnosticLine(const std::wstring& tag, const std::wstring& url, int attempt, const FetchFacts& facts,
                               const std::string& bodyStart) {
  std::wstring start;
  const size_t shown = std::min<size_t>(bodyStart.size(), 300);
  start.reserve(shown);
  for (size_t i = 0; i < shown; ++i) {
    const unsigned char c = static_cast<unsigned char>(bodyStart[i]);
    start.push_back(c >= 0x20 && c <= 0x7E ? static_cast<wchar_t>(c) : L'.');
  }
  return L"[" + tag + L"] " + url + L" try " + Number(static_cast<uint64_t>(attempt)) + L": " + facts.error +
         L" | HTTP " + Number(facts.status) + L" from " + AddressOrUnknown(facts.remoteAddress) + L", type '" +
         facts.contentType + L"', length " + (facts.hasContentLength ? Number(facts.contentLength) : L"none") +
         L", received " + Number(facts.received) + (facts.incomplete ? L" (cut off)" : L"") + L", starts: " + start;
}

std::wstring LastTryFailedText(bool gameMode, const FetchFacts& facts, const std::string& bodyStart) {
  if (gameMode) return facts.incomplete ? L"Güncellemeler denetlenemedi: " + facts.error : facts.error;
  if (facts.incomplete) {
    return L"Sunucunun dosya listesi yarım geldi, bağlantı kesiliyor (" + Kib(facts.received) + L" / " +
           Kib(facts.hasContentLength ? facts.contentLength : 0) + L" KB)";
  }
  if (LooksLikeWebPage(bodyStart, facts.contentType)) {
    return L"Sunucunun dosya listesi yerine bir web sayfası geldi (DNS, proxy ya da ağ filtresi olabilir)";
  }
  return facts.error + L" (" + Kib(facts.received) + L" KB geldi; ayrıntı: TALVOREEN\\logs\\launcher.log)";
}

bool LooksLikeWebPage(const std::string& body, const std::wstring& contentType) {
  const size_t first = body.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && body[first] == '<') return true;
  std::wstring lower = contentType;
  for (wchar_t& c : lower) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return lower.find(L"html") != std::wstring::npos;
}

bool IsAlwaysHashed(const std::string& path) {
  return EndsWithIgnoringCase(path, ".dll") || EndsWithIgnoringCase(path, ".exe");
}

PreviousRecordReader::PreviousRecordReader(const Manifest& manifest, const std::vector<DiskFile>& disk)
    : manifest_(manifest), disk_(disk), index_(manifest.files) {
  record_.files.resize(manifest.files.size());
}

void PreviousRecordReader::Add(InstalledFile entry) {
  ++record_.entries;
  record_.entriesDigest += EntryDigest(entry, digestScratch_);
  const size_t at = index_.Find(entry.path);
  if (at == index_.npos) {
    record_.unlisted.push_back(std::move(entry));
    return;
  }
  RecordedFile& recorded = record_.files[at];
  if (recorded.known) return;  // only the first entry of a file counts
  recorded.known = true;
  const DiskFile onDisk = at < disk_.size() ? disk_[at] : DiskFile{};
  // An unavailable entry describes no file, whatever its numbers say.
  recorded.trusted = !entry.unavailable && entry.hash == manifest_.files[at].hash && onDisk.exists &&
                     entry.size == onDisk.size && entry.mtime == onDisk.mtime;
  if (entry.unavailable) record_.unavailable.push_back(std::move(entry));
}

PreviousRecord PreviousRecordReader::Take(std::string build, bool complete) {
  record_.build = std::move(build);
  record_.complete = complete;
  return std::move(record_);
}

PreviousRecord RecordOf(const Manifest& manifest, const std::vector<DiskFile>& disk, const InstalledState& state) {
  PreviousRecordReader reader(manifest, disk);
  for (const InstalledFile& entry : state.files) reader.Add(entry);
  return reader.Take(state.build, state.complete);
}

bool SameAsPrevious(const InstalledState& state, const PreviousRecord& previous) {
  return state.build == previous.build && state.complete == previous.complete &&
         state.files.size() == previous.entries && EntriesDigest(state) == previous.entriesDigest;
}

SyncPlan ClassifyFiles(Manifest manifest, const std::vector<DiskFile>& disk, const PreviousRecord& previous,
                       bool gameMode, bool verify) {
  SyncPlan plan;
  // Room for every listed file: the files hashed later, those the workers install and those
  // set aside as unavailable join this list, and none of them then moves the whole of it (a
  // copy of 200,000 entries beside the old ones is the run's peak).
  plan.current.reserve(manifest.files.size());
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    ManifestFile& file = manifest.files[i];
    const DiskFile onDisk = i < disk.size() ? disk[i] : DiskFile{};
    if (!onDisk.exists) {
      plan.toDownload.push_back(std::move(file));
      continue;
    }
    if (file.keep) {
      // The player's copy from now on: whatever it holds stays.
      plan.current.push_back(Entry(file, std::string(), onDisk.size, onDisk.mtime));
      continue;
    }
    const bool trustAllowed = !verify && !(gameMode && IsAlwaysHashed(file.path)) && i < previous.files.size();
    if (trustAllowed && previous.files[i].trusted) {
      std::string hash = std::move(file.hash);
      plan.current.push_back(Entry(file, std::move(hash), onDisk.size, onDisk.mtime));
    } else if (onDisk.size == file.size) {
      plan.bytesToVerify += file.size;
      plan.toHash.push_back({std::move(file), onDisk});
    } else {
      plan.toDownload.push_back(std::move(file));
    }
  }
  return plan;
}

SyncPlan ClassifyFiles(Manifest manifest, const std::vector<DiskFile>& disk, const InstalledState& previous,
                       bool gameMode, bool verify) {
  const PreviousRecord record = RecordOf(manifest, disk, previous);
  return ClassifyFiles(std::move(manifest), disk, record, gameMode, verify);
}

void SettleHashedFile(SyncPlan& plan, HashTask task, const std::string& digest, const DiskFile& after) {
  if (digest == task.file.hash && after.exists && after.size == task.file.size && after.mtime == task.disk.mtime) {
    std::string hash = std::move(task.file.hash);
    plan.current.push_back(Entry(task.file, std::move(hash), after.size, after.mtime));
  } else {
    plan.toDownload.push_back(std::move(task.file));
  }
}

void PrepareDownloads(SyncPlan& plan, const PreviousRecord& previous, SyncMode mode, bool gameMode) {
  if (!gameMode && mode == SyncMode::Check) {
    const PathIndex<InstalledFile> index(previous.unavailable);
    std::vector<ManifestFile> remaining;
    for (ManifestFile& file : plan.toDownload) {
      const InstalledFile* recorded = index.FindEntry(file.path);
      if (recorded && recorded->hash == file.hash) {
        plan.stillUnavailable.push_back(*recorded);
      } else {
        remaining.push_back(std::move(file));
      }
    }
    plan.toDownload = std::move(remaining);
  }
  std::stable_sort(plan.toDownload.begin(), plan.toDownload.end(),
                   [](const ManifestFile& a, const ManifestFile& b) { return a.zsize > b.zsize; });
  plan.bytesToDownload = 0;
  for (const ManifestFile& file : plan.toDownload) plan.bytesToDownload += file.zsize;
}

CheckedStateMerger::CheckedStateMerger(const std::vector<InstalledFile>& verified)
    : verified_(verified), index_(verified), used_(verified.size(), false) {}

const InstalledFile* CheckedStateMerger::Add(const InstalledFile& entry) {
  const size_t at = index_.Find(entry.path);
  if (at == index_.npos) return &entry;
  if (used_[at]) {
    changed_ = true;
    return nullptr;
  }
  used_[at] = true;
  if (!(verified_[at] == entry)) changed_ = true;
  return &verified_[at];
}

std::vector<const InstalledFile*> CheckedStateMerger::Rest() const {
  std::vector<const InstalledFile*> rest;
  for (size_t i = 0; i < verified_.size(); ++i) {
    if (!used_[i] && index_.Find(verified_[i].path) == i) rest.push_back(&verified_[i]);
  }
  return rest;
}

bool CheckedStateMerger::Changed() const { return changed_ || !Rest().empty(); }

InstalledState NewRunState(const std::string& build, SyncPlan plan) {
  InstalledState state;
  state.build = build;
  state.complete = false;
  state.files = std::move(plan.current);
  state.files.insert(state.files.end(), plan.stillUnavailable.begin(), plan.stillUnavailable.end());
  return state;
}

uint64_t SpaceNeeded(const std::vector<ManifestFile>& downloads) {
  uint64_t needed = 0;
  for (const ManifestFile& file : downloads) needed += file.size;
  return needed;
}

bool CheckFreeSpace(const std::vector<ManifestFile>& downloads, uint64_t freeBytes, std::wstring& error) {
  const uint64_t needed = SpaceNeeded(downloads);
  // Compared without adding, so that a huge need cannot wrap around.
  if (freeBytes >= kFreeSpaceReserve && freeBytes - kFreeSpaceReserve >= needed) return true;
  error = L"Diskte yeterli yer yok: " + FormatSize(needed) + L" gerekli, " + FormatSize(freeBytes) + L" boş";
  return false;
}

std::vector<InstalledFile> EntriesLeftManifest(const PreviousRecord& previous) {
  const PathIndex<InstalledFile> named(previous.unlisted);
  std::vector<InstalledFile> gone;
  for (size_t i = 0; i < previous.unlisted.size(); ++i) {
    const InstalledFile& entry = previous.unlisted[i];
    // Each path once: only its first entry counts.
    if (entry.keep || named.Find(entry.path) != i) continue;
    gone.push_back(entry);
  }
  return gone;
}

void OwnedPaths::Add(const InstalledState& previous) {
  for (const InstalledFile& entry : previous.files) {
    if (!entry.keep) paths_.insert(PathIdentity(entry.path));
  }
}

void OwnedPaths::Add(const Manifest& previousManifest) {
  for (const ManifestFile& file : previousManifest.files) {
    if (!file.keep) paths_.insert(PathIdentity(file.path));
  }
}

bool OwnedPaths::Contains(const std::string& path) const { return paths_.count(PathIdentity(path)) > 0; }

bool NeedsNewerLauncher(const Manifest& manifest) {
  return !manifest.minLauncherVersion.empty() && CompareVersions(kLauncherVersion, manifest.minLauncherVersion) < 0;
}

std::wstring UrlOrigin(const std::wstring& url) {
  const size_t scheme = url.find(L"://");
  if (scheme == std::wstring::npos) return url;
  const size_t slash = url.find(L'/', scheme + 3);
  return slash == std::wstring::npos ? url : url.substr(0, slash);
}

DownloadLimits GameDownloadLimits() { return DownloadLimits{}; }

DownloadLimits ServerDownloadLimits(const std::wstring& clientFilesUrl, const Manifest& list) {
  DownloadLimits limits;
  const std::wstring listOrigin = UrlOrigin(clientFilesUrl);
  limits.downloadBase = list.httpDownloadUrl.empty() ? listOrigin : WideFromUtf8(list.httpDownloadUrl);
  limits.sameOrigin = EqualsIgnoreCase(UrlOrigin(limits.downloadBase), listOrigin);
  const uint64_t threads = list.httpThreads ? list.httpThreads : kDefaultHttpThreads;
  const uint64_t dos = list.httpDosThreshold ? list.httpDosThreshold : kDefaultDosThreshold;
  limits.requestRate = static_cast<double>(dos) * 0.3 / 10.0;
  if (limits.sameOrigin) {
    const uint64_t byThreads = threads <= 2 ? 1 : threads - 2;
    const uint64_t byThreshold = 2 * dos / 5;
    limits.workerCount =
        static_cast<uint32_t>(std::clamp<uint64_t>(std::min(byThreads, byThreshold), 1, kMaxDownloadWorkers));
  }
  return limits;
}

uint64_t PacingIntervalMicros(const DownloadLimits& limits, uint32_t keepAliveMax) {
  const double perConnection = static_cast<double>(keepAliveMax ? keepAliveMax : kDefaultKeepAliveMax);
  const double rate = perConnection * limits.requestRate;
  if (!limits.sameOrigin || !(rate > 0)) return 0;
  return static_cast<uint64_t>(1000000.0 / rate);
}
