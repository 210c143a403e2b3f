#!/usr/bin/env bash
# The fresh sync alone, beside its floors in the same run: a generated build (default 400 MiB
# in 400 files) served by nginx on 127.0.0.1 and synced into an empty folder by
#   - this tree's launcher;
#   - the launcher of an older build, when its source root is given (built there with the
#     windows preset; it runs in its own Wine prefix against the same server and objects);
#   - the in-process fetch floor (the same HTTP client, 16 workers, inflate and hash, nothing
#     written).
# Runs alternate between the launchers so that a drift of the machine hits both alike; each
# figure is the median of the rounds.
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
# sync <source root> <install folder>: one headless fresh sync with that tree's launcher.
sync_with() {
  rm -rf "$2"
  "$1/cmake/wine-run.sh" "$1/build/windows" "$1/Bin/launcher/Talvoreen Launcher.exe" \
    --headless sync --dir "Z:$2" --cdn "$base/sync"
}

echo "machine: $(nproc) cores; load at start:$(uptime | sed 's/.*load average://')"
make_tree "$work/source" "$mib" "$files"
port=$(free_loopback_port)
start_loopback_nginx "$work/nginx" "$port" 2 512 off "root $work/www;" "keepalive_requests 100000;"
stop_nginx() { if [ -f "$work/nginx/nginx.pid" ]; then kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true; fi; }
trap stop_nginx EXIT
base="http://127.0.0.1:$port"
"$root/cmake/wine-run.sh" "$build" "$build/tools/publish/talvoreen-publish.exe" game "Z:$work/source" \
  --out "Z:$work/www/sync" --key "Z:$root/keys/development.key" --build sync-1 >/dev/null 2>&1
bytes=$(du -sb --apparent-size "$work/source" | cut -f1)
python3 - "$work/www/sync/game/stable/manifest.json" >"$work/objects.txt" <<'PY'
import base64, json, sys
manifest = json.loads(base64.b64decode(json.load(open(sys.argv[1]))["payload"]))
for f in manifest["files"]:
    print(f["sha256"], f["size"])
PY

t_new=(); t_old=(); t_floor=()
for _ in $(seq "$rounds"); do
  "$root/cmake/wine-run.sh" "$build" "$build/bench/sync_floor_bench.exe" fetch "$base/sync/game/objects" \
    "Z:$work/objects.txt" 16 >"$work/fetch.out"
  t_floor+=("$(awk '{ print $4 }' "$work/fetch.out")")
  t_new+=("$(elapsed sync_with "$root" "$work/install-new")")
  tail -n 1 "$work/last.out"
  if [ -n "$old_root" ]; then
    t_old+=("$(elapsed sync_with "$old_root" "$work/install-old")")
    tail -n 1 "$work/last.out"
  fi
done
n=$(median "${t_new[@]}"); f=$(median "${t_floor[@]}")
echo
echo "load at end:$(uptime | sed 's/.*load average://')"
echo "rounds: this build ${t_new[*]}; floor ${t_floor[*]}${old_root:+; older build ${t_old[*]}}"
echo
echo "| measure, $((bytes / 1048576)) MiB in $files files | time (s) | rate | ratio |"
echo "|---|---|---|---|"
echo "| fresh sync, this build, whole process | $n | $(rate "$bytes" "$n") MB/s | |"
echo "| in-process fetch + inflate + hash, 16 workers | $f | $(rate "$bytes" "$f") MB/s | sync / this: $(ratio "$f" "$n") |"
if [ -n "$old_root" ]; then
  o=$(median "${t_old[@]}")
  echo "| fresh sync, older build ($(git -C "$old_root" rev-parse --short HEAD)), whole process | $o | $(rate "$bytes" "$o") MB/s | sync / this: $(ratio "$o" "$n") |"
fi
stop_nginx
[ -n "${KEEP_BENCH:-}" ] || rm -rf "$work"
