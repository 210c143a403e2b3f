#include "base/catalogue.h"

#include <cwctype>

#include "base/config.h"
#include "base/text.h"

#define TV_W(x) TALVOREEN_WIDEN(x)
#define TV_GAME(host) TV_W(host) L":22003"
#define TV_FILES(host) L"http://" TV_W(host) L":22005/.talvoreen/client-files.json"
#define TV_COUNT(api) L"https://" TV_W(api) L"/game/player-count"

const wchar_t* const ServerCatalogue::kKeys[kCount] = {L"corvel", L"talvoreen", L"meridian", L"dev"};

const wchar_t* const ServerCatalogue::kTitles[kCount] = {L"Corvel Roleplay", L"Talvoreen Roleplay",
                                                         L"Meridian Roleplay", L"Development Server"};

const wchar_t* const ServerCatalogue::kGameAddresses[kCount] = {
    TV_GAME(TALVOREEN_CORVEL_HOST), TV_GAME(TALVOREEN_MAIN_HOST), TV_GAME(TALVOREEN_MERIDIAN_HOST),
    TV_GAME(TALVOREEN_DEV_ADDRESS)};

const wchar_t* const ServerCatalogue::kClientFilesUrls[kCount] = {
    TV_FILES(TALVOREEN_CORVEL_HOST), TV_FILES(TALVOREEN_MAIN_HOST), TV_FILES(TALVOREEN_MERIDIAN_HOST),
    TV_FILES(TALVOREEN_DEV_ADDRESS)};

const wchar_t* const ServerCatalogue::kPlayerCountUrls[kCount] = {
    TV_COUNT(TALVOREEN_CORVEL_API_HOST), TV_COUNT(TALVOREEN_MAIN_API_HOST), TV_COUNT(TALVOREEN_MERIDIAN_API_HOST),
    L""};

int ServerCatalogue::IndexOfKey(const std::wstring& key) {
  for (int i = 0; i < kCount; ++i) {
    if (key == kKeys[i]) return i;
  }
  return -1;
}

namespace {

std::wstring LowerEachChar(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
  return out;
}

}  // namespace

int ResolveJoinLink(const std::wstring& link, bool devServer) {
  const std::wstring scheme = kJoinLinkScheme;
  if (link.size() < 13 || link.size() > 256) return -1;
  if (!EqualsIgnoreCase(link.substr(0, scheme.size()), scheme)) return -1;
  std::wstring body = LowerEachChar(link.substr(scheme.size()));
  while (!body.empty() && body.back() == L'/') body.pop_back();
  if (body.empty()) return -1;
  if (body.find_first_not_of(L"abcdefghijklmnopqrstuvwxyz0123456789.-:") != std::wstring::npos) return -1;
  const std::wstring target = body.find(L':') != std::wstring::npos ? body : body + L":" + kGamePort;
  const int rows = devServer ? ServerCatalogue::kCount : ServerCatalogue::kDevIndex;
  for (int i = 0; i < rows; ++i) {
    const std::wstring address = ServerCatalogue::kGameAddresses[i];
    if (body == ServerCatalogue::kKeys[i] || (!address.empty() && target == LowerEachChar(address))) return i;
  }
  return -1;
}
