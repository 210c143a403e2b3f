// The four game servers compiled into the launcher, indexed 0..3 everywhere, and the
// resolution of talvoreen:// join links to a row. Portable.
#pragma once

#include <string>

struct ServerCatalogue {
  static constexpr int kCount = 4;
  static constexpr int kDevIndex = 3;

  static const wchar_t* const kKeys[kCount];
  static const wchar_t* const kTitles[kCount];
  static const wchar_t* const kGameAddresses[kCount];    // host:22003
  static const wchar_t* const kClientFilesUrls[kCount];  // http://host:22005/.talvoreen/client-files.json
  static const wchar_t* const kPlayerCountUrls[kCount];  // empty for the development server

  // Index of a key ("corvel" ...), or -1.
  static int IndexOfKey(const std::wstring& key);
};

inline constexpr const wchar_t* kJoinLinkScheme = L"talvoreen://";
inline constexpr const wchar_t* kGamePort = L"22003";

// Catalogue index 0..3 named by the link, or -1. Row 3 only answers when devServer is set.
int ResolveJoinLink(const std::wstring& link, bool devServer);
