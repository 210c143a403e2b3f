#!/usr/bin/env bash
# The fresh sync alone, beside its floors in the same run: a generated build (default 400 MiB
# in 400 files) served by nginx on 127.0.0.1 and synced into an empty folder by
#   - this tree's launcher, over HTTP and over HTTPS (a certificate for localhost from an
#     authority made for the run, which only the bench's own Wine prefix trusts);
#   - the launcher of an older build, when its source root is given (built there with the
#     windows preset; it runs in its own Wine prefix against the same server and objects);
#   - the in-process fetch floor (the same HTTP client, 16 workers, inflate and hash, nothing
#     written).
# Runs alternate between the launchers and protocols so that a drift of the machine hits all
# alike; each figure is the median of the rounds.
#   bench/fresh_sync_bench.sh [MiB] [files] [rounds] [older build's source root]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/tools/lib/loopback_nginx.sh"
. "$root/bench/lib.sh"
mib="${1:-400}"
files="${2:-400}"
rounds="${3:-3}"
old_root="${4:-}"
build="$root/build/windows"
work="$root/build/bench-fresh-sync"
rm -rf "$work"; mkdir -p "$work/nginx" "$work/www"
cmake --build --preset windows --target talvoreen_launcher talvoreen_publish sync_floor_bench >/dev/null
# sync <source root> <Wine build folder> <install folder> <base url>: one headless fresh sync
# with that tree's launcher in that folder's prefix.
sync_with() {
  rm -rf "$3"
  "$1/cmake/wine-run.sh" "$2" "$1/Bin/launcher/Talvoreen Launcher.exe" \
    --headless sync --dir "Z:$3" --cdn "$4/sync"
}

echo "machine: $(nproc) cores; load at start:$(uptime | sed 's/.*load average://')"
make_tree "$work/source" "$mib" "$files"
tls_authority "$work/certs" authority
tls_server_certificate "$work/certs" localhost authority localhost
openssl x509 -in "$work/certs/authority.pem" -outform DER -out "$work/certs/authority.der"
port=$(free_loopback_port); tls_port=$(free_loopback_port)
start_loopback_nginx "$work/nginx" "$port" 2 512 off \
  "root $work/www; listen 127.0.0.1:$tls_port ssl; $(tls_nginx_lines "$work/certs" localhost)" \
  "keepalive_requests 100000;"
stop_all() {
  if [ -f "$work/nginx/nginx.pid" ]; then kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true; fi
  WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null || true
  if [ -f "$work/xvfb.pid" ]; then kill "$(cat "$work/xvfb.pid")" 2>/dev/null || true; rm -f "$work/xvfb.pid"; fi
}
trap stop_all EXIT
base="http://127.0.0.1:$port"
tls_base="https://localhost:$tls_port"
# This build runs in a prefix of the bench's own, the only one that trusts the authority.
"$root/cmake/wine-run.sh" "$work" "$build/bench/sync_floor_bench.exe" trust "Z:$work/certs/authority.der"
"$root/cmake/wine-run.sh" "$build" "$build/tools/publish/talvoreen-publish.exe" game "Z:$work/source" \
  --out "Z:$work/www/sync" --key "Z:$root/keys/development.key" --build sync-1 >/dev/null 2>&1
bytes=$(du -sb --apparent-size "$work/source" | cut -f1)
python3 - "$work/www/sync/game/stable/manifest.json" >"$work/objects.txt" <<'PY'
import base64, json, sys
manifest = json.loads(base64.b64decode(json.load(open(sys.argv[1]))["payload"]))
for f in manifest["files"]:
    print(f["sha256"], f["size"])
PY

t_new=(); t_tls=(); t_old=(); t_floor=()
for _ in $(seq "$rounds"); do
  "$root/cmake/wine-run.sh" "$work" "$build/bench/sync_floor_bench.exe" fetch "$base/sync/game/objects" \
    "Z:$work/objects.txt" 16 >"$work/fetch.out"
  t_floor+=("$(awk '{ print $4 }' "$work/fetch.out")")
  t_new+=("$(elapsed sync_with "$root" "$work" "$work/install-new" "$base")")
  tail -n 1 "$work/last.out"
  t_tls+=("$(elapsed sync_with "$root" "$work" "$work/install-tls" "$tls_base")")
  tail -n 1 "$work/last.out"
  grep -q "^result up-to-date" "$work/last.out" || { echo "the sync over HTTPS failed" >&2; exit 1; }
  if [ -n "$old_root" ]; then
    t_old+=("$(elapsed sync_with "$old_root" "$old_root/build/windows" "$work/install-old" "$base")")
    tail -n 1 "$work/last.out"
  fi
done
n=$(median "${t_new[@]}"); t=$(median "${t_tls[@]}"); f=$(median "${t_floor[@]}")
echo
echo "load at end:$(uptime | sed 's/.*load average://')"
echo "rounds: this build ${t_new[*]}; over HTTPS ${t_tls[*]}; floor ${t_floor[*]}${old_root:+; older build ${t_old[*]}}"
echo
echo "| measure, $((bytes / 1048576)) MiB in $files files | time (s) | rate | ratio |"
echo "|---|---|---|---|"
echo "| fresh sync, this build, whole process | $n | $(rate "$bytes" "$n") MB/s | |"
echo "| fresh sync over HTTPS, this build, whole process | $t | $(rate "$bytes" "$t") MB/s | HTTPS ÷ HTTP: $(ratio "$t" "$n") |"
echo "| in-process fetch + inflate + hash, 16 workers | $f | $(rate "$bytes" "$f") MB/s | sync / this: $(ratio "$f" "$n") |"
if [ -n "$old_root" ]; then
  o=$(median "${t_old[@]}")
  echo "| fresh sync, older build ($(git -C "$old_root" rev-parse --short HEAD)), whole process | $o | $(rate "$bytes" "$o") MB/s | sync / this: $(ratio "$o" "$n") |"
fi
stop_all
[ -n "${KEEP_BENCH:-}" ] || rm -rf "$work"
