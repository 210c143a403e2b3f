#!/usr/bin/env bash
# tools/release.sh end to end with a throwaway release key and certificate made here:
#   release_test.sh <windows build dir>
# The development key and a version other than the compiled one are refused; a PEM
# certificate and a PKCS#12 bundle each give an executable whose Authenticode signature
# verifies against that certificate, that still runs under Wine, and whose hash and compiled
# version the published launcher manifest names.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

# The development key never ships.
if out="$(bash "$root/tools/release.sh" --public-key "$root/keys/development.pub" --signing-key "$root/keys/development.key" \
            --out "$work/refused" 2>&1)"; then
  fail "the development key was accepted"
fi
grep -q "refusing the development key" <<<"$out" || fail "unexpected refusal text: $out"
[ ! -e "$work/refused/launcher" ] || fail "something was published with the development key"

openssl genpkey -algorithm ed25519 -out "$work/release.key" 2>/dev/null
public_key="$(openssl pkey -in "$work/release.key" -pubout -outform DER | tail -c 32 | base64)"
compiled="$(sed -n 's/^inline constexpr const char\* kLauncherVersion = "\([0-9.]*\)";$/\1/p' "$root/base/version.h")"
[ -n "$compiled" ] || fail "no version in base/version.h"

# A manifest naming another version than its launcher would make every player update on
# every start (higher) or never (lower).
for other in 9.9.9 0.0.1 "$compiled.1"; do
  if out="$(bash "$root/tools/release.sh" --public-key "$public_key" --signing-key "$work/release.key" \
              --version "$other" --out "$work/mismatch" --build-dir "$build/release-test" 2>&1)"; then
    fail "version $other was published from a $compiled build"
  fi
  grep -q "differs from the version compiled into the launcher ($compiled" <<<"$out" || fail "unexpected refusal: $out"
  [ ! -e "$work/mismatch/launcher" ] || fail "something was published as $other"
done
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/cert.key" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Talvoreen Release Test" 2>/dev/null
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/cert.key" -out "$work/cert.p12" -passout pass:secret

manifest_field() {  # what the signed launcher manifest in $1 says: "sha256" or "version"
  python3 - "$1/launcher/stable/manifest.json" "$2" <<'PY'
import base64, json, sys
payload = json.loads(base64.b64decode(json.load(open(sys.argv[1]))["payload"]))
print(payload["file"]["sha256"] if sys.argv[2] == "sha256" else payload["version"])
PY
}

check_release() {  # <cdn> <certificate>
  local exe="$build/release-test/release/Talvoreen Launcher.exe"
  osslsigncode verify -CAfile "$2" -in "$exe" >/dev/null 2>&1 || fail "the signature does not verify against $2"
  [ "$(manifest_field "$1" sha256)" = "$(sha256sum "$exe" | cut -c1-64)" ] || fail "the manifest does not name the signed file"
  [ "$(manifest_field "$1" version)" = "$compiled" ] || fail "the manifest names version $(manifest_field "$1" version)"
  local code=0
  printf '%s' "$(bash "$root/cmake/wine-run.sh" "$build" "$exe" --headless where)" | grep -Eq '^(none|[A-Z]:)' || code=$?
  [ "$code" = 0 ] || fail "the signed launcher does not run under Wine"
}

bash "$root/tools/release.sh" --public-key "$public_key" --signing-key "$work/release.key" \
  --out "$work/cdn-pem" --cert "$work/cert.pem" --cert-key "$work/cert.key" --build-dir "$build/release-test"
check_release "$work/cdn-pem" "$work/cert.pem"

bash "$root/tools/release.sh" --public-key "$public_key" --signing-key "$work/release.key" --version "$compiled" \
  --out "$work/cdn-p12" --pkcs12 "$work/cert.p12" --cert-pass secret --build-dir "$build/release-test"
check_release "$work/cdn-p12" "$work/cert.pem"

echo "release: 4 refusals and 2 signed releases checked"
