// Addresses compiled into the launcher. Each can be replaced at configure time
// (cmake -DTALVOREEN_CDN_HOST=... and so on); nothing else in the code names a host.
#pragma once

#ifndef TALVOREEN_CDN_HOST
#define TALVOREEN_CDN_HOST "cdn.talvoreen.net"
#endif
#ifndef TALVOREEN_CORVEL_HOST
#define TALVOREEN_CORVEL_HOST "play.corvelrp.com"
#endif
#ifndef TALVOREEN_CORVEL_API_HOST
#define TALVOREEN_CORVEL_API_HOST "api.corvelrp.com"
#endif
#ifndef TALVOREEN_MAIN_HOST
#define TALVOREEN_MAIN_HOST "play.talvoreen.net"
#endif
#ifndef TALVOREEN_MAIN_API_HOST
#define TALVOREEN_MAIN_API_HOST "api.talvoreen.net"
#endif
#ifndef TALVOREEN_MERIDIAN_HOST
#define TALVOREEN_MERIDIAN_HOST "play.meridianrp.net"
#endif
#ifndef TALVOREEN_MERIDIAN_API_HOST
#define TALVOREEN_MERIDIAN_API_HOST "api.meridianrp.net"
#endif
#ifndef TALVOREEN_DEV_ADDRESS
#define TALVOREEN_DEV_ADDRESS "198.51.100.22"
#endif

#define TALVOREEN_WIDEN2(x) L##x
#define TALVOREEN_WIDEN(x) TALVOREEN_WIDEN2(x)

#define TALVOREEN_DEFAULT_CONTENT_BASE_URL L"https://" TALVOREEN_WIDEN(TALVOREEN_CDN_HOST) L"/talvoreen-launcher"
#define TALVOREEN_DEFAULT_GTA_ARCHIVE_URL \
  L"https://" TALVOREEN_WIDEN(TALVOREEN_CDN_HOST) L"/talvoreen-launcher/talvoreen-gtasa.zip"
