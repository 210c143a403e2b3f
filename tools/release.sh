#!/usr/bin/env bash
# Builds, signs and publishes a release of the launcher.
#
#   tools/release.sh --public-key KEY --signing-key KEYFILE --out CDN_ROOT [--version V]
#                    [--cert CERT.pem --cert-key KEY.pem | --pkcs12 FILE.p12] [--cert-pass PASS]
#                    [--timestamp-url URL [--timestamp-ca TSA.pem]] [--build-dir DIR]
#
# The version published is the one compiled into the executable (base/version.h); a
# --version that differs is refused: a manifest naming a newer version than its launcher
# makes every player download and swap it on every start, an older one updates nobody.
# KEY is the release public key (44 base64 characters, or a file holding them) that the
# launcher will trust; KEYFILE its private half (talvoreen-publish keygen), which signs the
# launcher manifest. The development key of keys/ is refused. With a certificate the
# executable is signed with Authenticode (osslsigncode) and the signature verified against
# that certificate before anything is published; without one the release goes out unsigned,
# with a warning. With --timestamp-url the signature gets an RFC 3161 time stamp from that
# authority, so that it stays valid after the certificate expires; with --timestamp-ca (the
# authority's certificate) that time stamp must verify against it too, or nothing is published.
# The launcher manifest is written last, after its object.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

die() { printf 'release: %s\n' "$*" >&2; exit 1; }
say() { printf '[release] %s\n' "$*" >&2; }

public_key="" signing_key="" version="" out="" cert="" cert_key="" pkcs12="" cert_pass="" build_dir="" timestamp_url="" timestamp_ca=""
while [ $# -gt 0 ]; do
  case "$1" in
    --public-key) public_key="${2-}"; shift 2 ;;
    --signing-key) signing_key="${2-}"; shift 2 ;;
    --version) version="${2-}"; shift 2 ;;
    --out) out="${2-}"; shift 2 ;;
    --cert) cert="${2-}"; shift 2 ;;
    --cert-key) cert_key="${2-}"; shift 2 ;;
    --pkcs12) pkcs12="${2-}"; shift 2 ;;
    --cert-pass) cert_pass="${2-}"; shift 2 ;;
    --timestamp-url) timestamp_url="${2-}"; shift 2 ;;
    --timestamp-ca) timestamp_ca="${2-}"; shift 2 ;;
    --build-dir) build_dir="${2-}"; shift 2 ;;
    *) die "unknown argument: $1" ;;
  esac
done
[ -n "$public_key" ] && [ -n "$signing_key" ] && [ -n "$out" ] ||
  die "usage: tools/release.sh --public-key KEY --signing-key KEYFILE --out CDN_ROOT [--version V] [--cert CERT --cert-key KEY | --pkcs12 FILE] [--cert-pass PASS] [--timestamp-url URL [--timestamp-ca TSA.pem]] [--build-dir DIR]"
compiled="$(sed -n 's/^#define TALVOREEN_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$/\2/p' "$root/base/version.h" | paste -sd.)"
[[ "$compiled" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || compiled=""
[ -n "$compiled" ] || die "cannot read the launcher version from base/version.h"
[ -z "$version" ] || [ "$version" = "$compiled" ] ||
  die "--version $version differs from the version compiled into the launcher ($compiled, base/version.h)"
version="$compiled"
[ -f "$public_key" ] && public_key="$(head -n 1 "$public_key")"
public_key="$(printf '%s' "$public_key" | tr -d '[:space:]')"
[[ "$public_key" =~ ^[A-Za-z0-9+/]{43}=$ ]] || die "the public key must be 44 base64 characters"
development_key="$(head -n 1 "$root/keys/development.pub" | tr -d '[:space:]')"
[ "$public_key" != "$development_key" ] ||
  die "refusing the development key: its private half is public (keys/development.key)"
[ -f "$signing_key" ] || die "no private key file: $signing_key"
if [ -n "$cert" ] || [ -n "$pkcs12" ]; then
  [ -z "$cert" ] || [ -z "$pkcs12" ] || die "give either --cert with --cert-key, or --pkcs12"
  [ -z "$cert" ] || [ -n "$cert_key" ] || die "--cert needs --cert-key"
  [ -z "$timestamp_url" ] || [[ "$timestamp_url" =~ ^https?:// ]] || die "the time-stamp URL must be http:// or https://"
  [ -z "$timestamp_ca" ] || [ -n "$timestamp_url" ] || die "--timestamp-ca needs --timestamp-url"
  [ -z "$timestamp_ca" ] || [ -f "$timestamp_ca" ] || die "no time-stamp authority certificate: $timestamp_ca"
  command -v osslsigncode >/dev/null || die "osslsigncode is missing (tools/setup.sh installs it)"
fi
build_dir="${build_dir:-$root/build/release}"
mkdir -p "$build_dir" "$out"
absolute() { [ -z "$1" ] || printf '%s/%s' "$(cd "$(dirname "$1")" && pwd)" "$(basename "$1")"; }
build_dir="$(cd "$build_dir" && pwd)" out="$(cd "$out" && pwd)"
signing_key="$(absolute "$signing_key")" cert="$(absolute "$cert")" cert_key="$(absolute "$cert_key")"
pkcs12="$(absolute "$pkcs12")" timestamp_ca="$(absolute "$timestamp_ca")"
cd "$root"

say "building the launcher with the release key into $build_dir"
cmake --preset windows -B "$build_dir" -DTALVOREEN_SIGNING_PUBLIC_KEY="$public_key" -DTALVOREEN_RELEASE=ON \
  -DTALVOREEN_EXE_DIR="$build_dir/Bin/launcher" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target talvoreen_launcher >/dev/null
exe="$build_dir/Bin/launcher/Talvoreen Launcher.exe"
publish="$build_dir/host-publish/tools/publish/talvoreen-publish"
[ -f "$exe" ] || die "the build did not produce $exe"
# The executable's own version resource (its text, and the numbers the install compares) and
# its user agent must say the same, or the manifest would still lie.
built="$(strings -el "$exe" | grep -x -A1 FileVersion | sed -n 2p)"
[ "$built" = "$version" ] || die "the executable's version resource says '$built', base/version.h $version"
numeric="$(python3 - "$exe" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at >= 0:
    ms, ls = struct.unpack_from("<II", data, at + 8)
    print(f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}")
PY
)"
[ "$numeric" = "$version" ] || die "the executable's numeric file version is '$numeric', base/version.h $version"
# (grep reads to the end: with -q, strings would die of a closed pipe and pipefail would say no.)
strings -el "$exe" | grep -x "TalvoreenLauncher/$version" >/dev/null ||
  die "the executable's user agent does not name version $version"

release_exe="$build_dir/release/Talvoreen Launcher.exe"
mkdir -p "$build_dir/release"
rm -f "$release_exe"
if [ -n "$cert" ] || [ -n "$pkcs12" ]; then
  say "signing with Authenticode"
  pass_args=() ts_args=()
  [ -z "$cert_pass" ] || pass_args=(-pass "$cert_pass")
  [ -z "$timestamp_url" ] || ts_args=(-ts "$timestamp_url")
  if [ -n "$cert" ]; then
    osslsigncode sign -certs "$cert" -key "$cert_key" "${pass_args[@]}" "${ts_args[@]}" -h sha256 \
      -n "Talvoreen Launcher" -in "$exe" -out "$release_exe" >/dev/null
    ca="$cert"
  else
    osslsigncode sign -pkcs12 "$pkcs12" "${pass_args[@]}" "${ts_args[@]}" -h sha256 \
      -n "Talvoreen Launcher" -in "$exe" -out "$release_exe" >/dev/null
    ca="$build_dir/release/signing-cert.pem"
    openssl pkcs12 -in "$pkcs12" -nokeys -clcerts -passin "pass:$cert_pass" -out "$ca" 2>/dev/null ||
      die "cannot read the certificate out of $pkcs12"
  fi
  tsa_args=()
  [ -z "$timestamp_ca" ] || tsa_args=(-TSA-CAfile "$timestamp_ca")
  osslsigncode verify -CAfile "$ca" "${tsa_args[@]}" -in "$release_exe" >"$build_dir/release/verify.txt" 2>&1 ||
    { cat "$build_dir/release/verify.txt" >&2; die "the Authenticode signature does not verify"; }
  say "signature verified against $ca"
  if [ -n "$timestamp_ca" ]; then
    # osslsigncode passes a signature whose time stamp it could not check; a release may not.
    grep -q "Timestamp Server Signature verification: ok" "$build_dir/release/verify.txt" ||
      { cat "$build_dir/release/verify.txt" >&2; rm -f "$release_exe"; die "the time stamp does not verify against $timestamp_ca"; }
    say "time stamp verified against $timestamp_ca"
  fi
else
  say "WARNING: no certificate given; the executable is NOT signed and SmartScreen will warn players"
  cp "$exe" "$release_exe"
fi

say "building talvoreen-publish"
cmake -S "$root" -B "$build_dir/host-publish" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir/host-publish" -j "$(nproc)" --target talvoreen_publish >/dev/null
say "publishing $version into $out"
"$publish" launcher "$release_exe" --out "$out" --key "$signing_key" --version "$version"
# The manifest just written must verify against the key the launcher was built with: a
# private key that does not belong to it would lock every player out of updates.
"$publish" verify "$out" --public-key "$public_key" >/dev/null ||
  die "the published tree does not verify against the release public key"
say "done: $release_exe ($(sha256sum "$release_exe" | cut -c1-64))"
