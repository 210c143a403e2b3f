#include "sync/sync_plan.h"

#include <algorithm>
#include <cwchar>
#include <unordered_map>
#include <unordered_set>

#include "base/format.h"
#include "base/text.h"
#include "base/version.h"
#include "manifest/rules.h"

namespace {

constexpr uint32_t kDefaultHttpThreads = 8;
constexpr uint32_t kDefaultDosThreshold = 20;
constexpr uint32_t kDefaultKeepAliveMax = 100;

bool EndsWithIgnoringCase(const std::string& text, const char* suffix) {
  const size_t length = std::char_traits<char>::length(suffix);
  return text.size() >= length && AsciiLower(text.substr(text.size() - length)) == suffix;
}

// First entry per path identity (the way Windows compares names).
std::unordered_map<std::string, const InstalledFile*> IndexByPath(const InstalledState& state) {
  std::unordered_map<std::string, const InstalledFile*> index;
  index.reserve(state.files.size());
  for (const InstalledFile& file : state.files) index.emplace(PathIdentity(file.path), &file);
  return index;
}

const InstalledFile* Find(const std::unordered_map<std::string, const InstalledFile*>& index, const std::string& path) {
  auto it = index.find(PathIdentity(path));
  return it == index.end() ? nullptr : it->second;
}

InstalledFile Entry(const ManifestFile& file, std::string hash, uint64_t size, uint64_t mtime) {
  InstalledFile entry;
  entry.path = file.path;
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
                               const std::string& body) {
  std::wstring start;
  const size_t shown = std::min<size_t>(body.size(), 300);
  start.reserve(shown);
  for (size_t i = 0; i < shown; ++i) {
    const unsigned char c = static_cast<unsigned char>(body[i]);
    start.push_back(c >= 0x20 && c <= 0x7E ? static_cast<wchar_t>(c) : L'.');
  }
  return L"[" + tag + L"] " + url + L" try " + Number(static_cast<uint64_t>(attempt)) + L": " + facts.error +
         L" | HTTP " + Number(facts.status) + L" from " + AddressOrUnknown(facts.remoteAddress) + L", type '" +
         facts.contentType + L"', length " + (facts.hasContentLength ? Number(facts.contentLength) : L"none") +
         L", received " + Number(body.size()) + (facts.incomplete ? L" (cut off)" : L"") + L", starts: " + start;
}

std::wstring LastTryFailedText(bool gameMode, const FetchFacts& facts, const std::string& body) {
  if (gameMode) return facts.incomplete ? L"Güncellemeler denetlenemedi: " + facts.error : facts.error;
  if (facts.incomplete) {
    return L"Sunucunun dosya listesi yarım geldi, bağlantı kesiliyor (" + Kib(body.size()) + L" / " +
           Kib(facts.hasContentLength ? facts.contentLength : 0) + L" KB)";
  }
  if (LooksLikeWebPage(body, facts.contentType)) {
    return L"Sunucunun dosya listesi yerine bir web sayfası geldi (DNS, proxy ya da ağ filtresi olabilir)";
  }
  return facts.error + L" (" + Kib(body.size()) + L" KB geldi; ayrıntı: TALVOREEN\\logs\\launcher.log)";
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

SyncPlan ClassifyFiles(const Manifest& manifest, const std::vector<DiskFile>& disk, const InstalledState& previous,
                       bool gameMode, bool verify) {
  const auto index = IndexByPath(previous);
  SyncPlan plan;
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    const ManifestFile& file = manifest.files[i];
    const DiskFile onDisk = i < disk.size() ? disk[i] : DiskFile{};
    if (!onDisk.exists) {
      plan.toDownload.push_back(file);
      continue;
    }
    if (file.keep) {
      // The player's copy from now on: whatever it holds stays.
      plan.current.push_back(Entry(file, std::string(), onDisk.size, onDisk.mtime));
      continue;
    }
    const bool trustAllowed = !verify && !(gameMode && IsAlwaysHashed(file.path));
    const InstalledFile* recorded = trustAllowed ? Find(index, file.path) : nullptr;
    // An unavailable entry describes no file, whatever its numbers say.
    if (recorded && !recorded->unavailable && recorded->hash == file.hash && recorded->size == onDisk.size &&
        recorded->mtime == onDisk.mtime) {
      plan.current.push_back(Entry(file, file.hash, onDisk.size, onDisk.mtime));
    } else if (onDisk.size == file.size) {
      plan.toHash.push_back({file, onDisk});
      plan.bytesToVerify += file.size;
    } else {
      plan.toDownload.push_back(file);
    }
  }
  return plan;
}

void SettleHashedFile(SyncPlan& plan, const HashTask& task, const std::string& digest, const DiskFile& after) {
  if (digest == task.file.hash && after.exists && after.size == task.file.size && after.mtime == task.disk.mtime) {
    plan.current.push_back(Entry(task.file, task.file.hash, after.size, after.mtime));
  } else {
    plan.toDownload.push_back(task.file);
  }
}

void PrepareDownloads(SyncPlan& plan, const InstalledState& previous, SyncMode mode, bool gameMode) {
  if (!gameMode && mode == SyncMode::Check) {
    const auto index = IndexByPath(previous);
    std::vector<ManifestFile> remaining;
    for (ManifestFile& file : plan.toDownload) {
      const InstalledFile* recorded = Find(index, file.path);
      if (recorded && recorded->unavailable && recorded->hash == file.hash) {
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

InstalledState MergeCheckedState(const InstalledState& previous, const std::vector<InstalledFile>& verified) {
  std::unordered_map<std::string, size_t> replacement;
  for (size_t i = 0; i < verified.size(); ++i) replacement.emplace(PathIdentity(verified[i].path), i);
  std::vector<bool> used(verified.size(), false);

  InstalledState merged;
  merged.build = previous.build;
  merged.complete = previous.complete;
  for (const InstalledFile& entry : previous.files) {
    auto it = replacement.find(PathIdentity(entry.path));
    if (it == replacement.end()) {
      merged.files.push_back(entry);
    } else if (!used[it->second]) {
      // A record with one path twice keeps a single, fresh entry for it.
      used[it->second] = true;
      merged.files.push_back(verified[it->second]);
    }
  }
  for (size_t i = 0; i < verified.size(); ++i) {
    if (!used[i] && replacement[PathIdentity(verified[i].path)] == i) merged.files.push_back(verified[i]);
  }
  return merged;
}

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

std::vector<InstalledFile> EntriesLeftManifest(const InstalledState& previous, const Manifest& manifest) {
  std::unordered_set<std::string> listed;
  listed.reserve(manifest.files.size());
  for (const ManifestFile& file : manifest.files) listed.insert(PathIdentity(file.path));
  std::vector<InstalledFile> gone;
  std::unordered_set<std::string> named;
  for (const InstalledFile& entry : previous.files) {
    const std::string identity = PathIdentity(entry.path);
    if (entry.keep || listed.count(identity) || !named.insert(identity).second) continue;
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
