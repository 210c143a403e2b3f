#!/usr/bin/env bash
# tools/release.sh end to end with a throwaway release key and certificate made here:
#   release_test.sh <windows build dir>
# The development key and a version other than the compiled one are refused; a PEM
# certificate and a PKCS#12 bundle each give an executable whose Authenticode signature
# verifies against that certificate (the PEM one with an RFC 3161 time stamp from a time-stamp
# authority made here and served on 127.0.0.1, refused when checked against another authority), that still runs under Wine, and whose hash and
# compiled version the published launcher manifest names.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
tsa_pid=""
trap '[ -z "$tsa_pid" ] || kill "$tsa_pid" 2>/dev/null; rm -rf "$work"' EXIT
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
compiled="$(sed -n 's/^#define TALVOREEN_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$/\2/p' "$root/base/version.h" | paste -sd.)"
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

# A time-stamp authority on 127.0.0.1: openssl ts answers each request with a throwaway key.
mkdir -p "$work/tsa"
cat >"$work/tsa/tsa.cnf" <<'CNF'
[ req ]
distinguished_name = dn
[ dn ]
[ tsa_ext ]
basicConstraints = critical,CA:false
extendedKeyUsage = critical,timeStamping
keyUsage = critical,digitalSignature
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = ./serial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha1
accuracy = secs:1
ess_cert_id_alg = sha256
CNF
echo 01 >"$work/tsa/serial"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/tsa/tsa.key" -out "$work/tsa/tsa.pem" -days 2 \
  -subj "/CN=Talvoreen Test TSA" -config "$work/tsa/tsa.cnf" -extensions tsa_ext 2>/dev/null
python3 - "$work/tsa" >"$work/tsa/port" <<'PY' &
import http.server, os, subprocess, sys, tempfile
folder = sys.argv[1]
class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.TemporaryDirectory() as t:
            with open(os.path.join(t, "query"), "wb") as f:
                f.write(query)
            subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", os.path.join(t, "query"),
                            "-signer", "tsa.pem", "-inkey", "tsa.key", "-out", os.path.join(t, "reply")],
                           cwd=folder, check=True, capture_output=True)
            reply = open(os.path.join(t, "reply"), "rb").read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
tsa_pid=$!
for _ in $(seq 100); do [ -s "$work/tsa/port" ] && break; sleep 0.05; done
[ -s "$work/tsa/port" ] || fail "the time-stamp authority did not start"
tsa_url="http://127.0.0.1:$(cat "$work/tsa/port")"

manifest_field() {  # what the signed launcher manifest in $1 says: "sha256" or "version"
  python3 - "$1/launcher/stable/manifest.json" "$2" <<'PY'
import base64, json, sys
payload = json.loads(base64.b64decode(json.load(open(sys.argv[1]))["payload"]))
print(payload["file"]["sha256"] if sys.argv[2] == "sha256" else payload["version"])
PY
}

check_release() {  # <cdn> <certificate> stamped|unstamped
  local exe="$build/release-test/release/Talvoreen Launcher.exe"
  osslsigncode verify -CAfile "$2" -TSA-CAfile "$work/tsa/tsa.pem" -in "$exe" >"$work/verify.txt" 2>&1 ||
    fail "the signature does not verify against $2: $(cat "$work/verify.txt")"
  if [ "$3" = stamped ]; then
    grep -q "Timestamp Server Signature verification: ok" "$work/verify.txt" || fail "no valid time stamp"
  elif grep -q "Timestamp time" "$work/verify.txt"; then
    fail "a time stamp without --timestamp-url"
  fi
  [ "$(manifest_field "$1" sha256)" = "$(sha256sum "$exe" | cut -c1-64)" ] || fail "the manifest does not name the signed file"
  [ "$(manifest_field "$1" version)" = "$compiled" ] || fail "the manifest names version $(manifest_field "$1" version)"
  local code=0
  printf '%s' "$(bash "$root/cmake/wine-run.sh" "$build" "$exe" --headless where 2>"$work/stderr.txt")" |
    grep -Eq '^(none|[A-Z]:)' || code=$?
  [ "$code" = 0 ] || fail "the signed launcher does not run under Wine"
  # Scripts merge the streams or stop at any line on standard error: a release writes none.
  [ ! -s "$work/stderr.txt" ] || fail "a headless job of the release wrote to standard error: $(cat "$work/stderr.txt")"
}

# A time stamp that does not verify against the authority named for it stops the release.
if out="$(bash "$root/tools/release.sh" --public-key "$public_key" --signing-key "$work/release.key" \
            --out "$work/cdn-wrong-tsa" --cert "$work/cert.pem" --cert-key "$work/cert.key" --timestamp-url "$tsa_url" \
            --timestamp-ca "$work/cert.pem" --build-dir "$build/release-test" 2>&1)"; then
  fail "a time stamp was accepted against a certificate that did not issue it"
fi
grep -q "the time stamp does not verify against" <<<"$out" || fail "unexpected refusal: $out"
[ ! -e "$work/cdn-wrong-tsa/launcher" ] || fail "something was published with an unverified time stamp"

bash "$root/tools/release.sh" --public-key "$public_key" --signing-key "$work/release.key" \
  --out "$work/cdn-pem" --cert "$work/cert.pem" --cert-key "$work/cert.key" --timestamp-url "$tsa_url" \
  --timestamp-ca "$work/tsa/tsa.pem" --build-dir "$build/release-test"
check_release "$work/cdn-pem" "$work/cert.pem" stamped

bash "$root/tools/release.sh" --public-key "$public_key" --signing-key "$work/release.key" --version "$compiled" \
  --out "$work/cdn-p12" --pkcs12 "$work/cert.p12" --cert-pass secret --build-dir "$build/release-test"
check_release "$work/cdn-p12" "$work/cert.pem" unstamped

echo "release: 5 refusals and 2 signed releases (one time-stamped) checked"
