#!/usr/bin/env bash
# Synchronisation benchmarks under Wine, each beside its floors measured in the same run:
#   1. verify of an installed tree (default 400 MiB in 400 files) and publishing it, by
#      bench/verify_bench.sh, which prints its own table: the hash engine's code path, verify on
#      one core and on all beside the same hashing code alone in-process on 1 and N threads
#      (N = processors, at most 8) and native sha256sum, and the publisher on 1 and N threads;
#   2. fresh sync of a generated build (default 400 MiB in 1,000 files) from nginx on
#      127.0.0.1 against the same objects fetched by the same HTTP client with 16 workers,
#      inflated and hashed in-process without the run around it, and against 16 native
#      `curl | gunzip | sha256sum` pipelines, and, when OLDER_BUILD names the source root of an
#      older build (built there with the windows preset), against that build's launcher on
#      the same objects (bench/fresh_sync_bench.sh runs this part alone, in alternating rounds);
#   3. no-op check of a synced game tree (default 10,000 files) against the process start
#      (`--headless where`) and a native stat of the same files;
#   4. scaling: no-op check of a server's file list (default 1,000, 10,000, 100,000 and
#      200,000 files): whole check, state file read and write, list parse, native stat and
#      peak resident memory.
#   bench/sync_bench.sh [verify MiB] [verify files] [sync MiB] [sync files] [check files] ["scaling counts"]
# Short timings (process start, checks, stat) are the median of three runs.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/tools/lib/loopback_nginx.sh"
. "$root/bench/lib.sh"
verify_mib="${1:-400}"
verify_files="${2:-400}"
sync_mib="${3:-400}"
sync_files="${4:-1000}"
check_files="${5:-10000}"
scaling="${6:-1000 10000 100000 200000}"
build="$root/build/windows"
work="$root/build/bench-sync"
exe="$root/Bin/launcher/Talvoreen Launcher.exe"
floor_exe="$build/bench/sync_floor_bench.exe"
rm -rf "$work"; mkdir -p "$work/nginx" "$work/www"
cmake --build --preset windows --target talvoreen_launcher talvoreen_publish sync_floor_bench >/dev/null
wine_run() { "$root/cmake/wine-run.sh" "$build" "$@"; }
publisher() { wine_run "$build/tools/publish/talvoreen-publish.exe" "$@" 2>/dev/null; }
launcher() { wine_run "$exe" "$@"; }
floor() { wine_run "$floor_exe" "$@"; }

echo "machine: $(nproc) cores; load at start:$(uptime | sed 's/.*load average://')"

make_small() {  # folder count: tiny files, 100 a folder
  python3 - "$@" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    folder = os.path.join(root, "d%04d" % (i // 100))
    if i % 100 == 0:
        os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "s%06d.lua" % i), "w") as f:
        f.write("-- file %d\n" % i)
PY
}
key="Z:$root/keys/development.key"

port=$(free_loopback_port)
start_loopback_nginx "$work/nginx" "$port" 2 512 off "root $work/www;" "keepalive_requests 100000;"
stop_nginx() { if [ -f "$work/nginx/nginx.pid" ]; then kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true; fi; }
trap stop_nginx EXIT
base="http://127.0.0.1:$port"

# ---- 1. Verify and publish -------------------------------------------------------------------
"$root/bench/verify_bench.sh" "$verify_mib" "$verify_files"

# ---- 2. Fresh sync --------------------------------------------------------------------------
make_tree "$work/sync-source" "$sync_mib" "$sync_files"
publisher game "Z:$work/sync-source" --out "Z:$work/www/sync" --key "$key" --build sync-1 >/dev/null
sync_bytes=$(du -sb --apparent-size "$work/sync-source" | cut -f1)
python3 - "$work/www/sync/game/stable/manifest.json" >"$work/objects.txt" <<'PY'
import base64, json, sys
manifest = json.loads(base64.b64decode(json.load(open(sys.argv[1]))["payload"]))
for f in manifest["files"]:
    print(f["sha256"], f["size"])
PY
native_fetch() {
  awk '{ print $1 }' "$work/objects.txt" |
    xargs -P 16 -n 20 sh -c 'for h; do curl -s "$0/$(printf %.2s "$h")/$h.gz" | gunzip | sha256sum >/dev/null; done' "$base/sync/game/objects"
}
t_native_sync=$(elapsed native_fetch)
floor fetch "$base/sync/game/objects" "Z:$work/objects.txt" 16 | tee "$work/fetch.out"
t_fetch=$(awk '{ print $4 }' "$work/fetch.out")
t_sync=$(elapsed /usr/bin/time -f '%M' -o "$work/peak-kb" "$root/cmake/wine-run.sh" "$build" "$exe" \
  --headless sync --dir "Z:$work/sync-install" --cdn "$base/sync")
tail -n 1 "$work/last.out"
sync_peak=$(( $(cat "$work/peak-kb") / 1024 ))
older_row=""
if [ -n "${OLDER_BUILD:-}" ]; then
  t_older=$(elapsed "$OLDER_BUILD/cmake/wine-run.sh" "$OLDER_BUILD/build/windows" "$OLDER_BUILD/Bin/launcher/Talvoreen Launcher.exe" \
    --headless sync --dir "Z:$work/sync-install-older" --cdn "$base/sync")
  tail -n 1 "$work/last.out"
  older_row="| fresh sync, older build $(git -C "$OLDER_BUILD" rev-parse --short HEAD), whole process | $t_older | $(rate "$sync_bytes" "$t_older") MB/s | sync / this: $(ratio "$t_older" "$t_sync") | ≥ 1.0 |"$'\n'
fi

# ---- 3. No-op check of game files -----------------------------------------------------------
make_small "$work/check-source" "$check_files"
publisher game "Z:$work/check-source" --out "Z:$work/www/check" --key "$key" --build check-1 >/dev/null
launcher --headless sync --dir "Z:$work/check-install" --cdn "$base/check" | tail -n 1
# One native stat of every file of the tree (find reads size and time of each).
stat_files() { find "$1" -type f -printf '%s %T@\n' >/dev/null; }
w=(); c=(); s=()
for _ in 1 2 3; do
  w+=("$(elapsed launcher --headless where)")
  s+=("$(elapsed stat_files "$work/check-install")")
  c+=("$(elapsed launcher --headless check --dir "Z:$work/check-install" --cdn "$base/check")")
done
tail -n 1 "$work/last.out"
t_where=$(median "${w[@]}"); t_check=$(median "${c[@]}"); t_stat=$(median "${s[@]}")
floor scan "Z:$work/check-install" | tee "$work/scan.out"
floor state "Z:$work/check-install/.talvoreen/installed.json" | tee "$work/state.out"
floor list game "Z:$work/www/check/game/stable/manifest.json" | tee "$work/list.out"
floor check "Z:$work/check-install" "$base/check" | tee "$work/run.out"

# ---- 4. Scaling over a server's file list ---------------------------------------------------
scale_rows=""
for n in $scaling; do
  dir="$work/scale-$n"
  make_small "$dir/cache/resources/r" "$n"
  # The list, and the state file a finished sync would have left (sizes and times as Wine
  # reports them), so that no first run has to hash every file.
  mkdir -p "$dir/install/.talvoreen"
  python3 - "$dir/cache" "$n" "$work/www/client-files-$n.json" "$dir/install/.talvoreen/server-corvel.json" <<'PY'
import hashlib, json, os, sys
cache, count, list_path, state_path = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
files, state = [], []
for i in range(count):
    path = "d%04d/s%06d.lua" % (i // 100, i)
    full = os.path.join(cache, "resources", "r", path)
    data = open(full, "rb").read()
    md5 = hashlib.md5(data).hexdigest()
    st = os.stat(full)
    files.append({"path": path, "size": len(data), "md5": md5})
    state.append({"path": "resources/r/" + path, "hash": md5, "size": len(data),
                  "mtime": st.st_mtime_ns // 100 + 116444736000000000})
with open(list_path, "w") as f:
    json.dump({"schema": 1, "resources": [{"name": "r", "files": files}]}, f, separators=(",", ":"))
with open(state_path, "w") as f:
    json.dump({"version": 1, "build": "server", "complete": True, "files": state}, f, separators=(",", ":"))
PY
  job=(--headless server-check-corvel --dir "Z:$dir/install" --server-list "$base/client-files-$n.json" --cache "Z:$dir/cache")
  c=(); s=()
  for i in 1 2 3; do
    s+=("$(elapsed stat_files "$dir/cache")")
    c+=("$(elapsed /usr/bin/time -f '%M' -o "$work/peak-kb-$i" "$root/cmake/wine-run.sh" "$build" "$exe" "${job[@]}")")
  done
  if ! grep -q "^result up-to-date" "$work/last.out" || grep -q " verify [0-9]*/[1-9]" "$work/last.out"; then
    echo "the check of $n files was not a no-op:"; tail -n 3 "$work/last.out"
  fi
  peak=$(cat "$work"/peak-kb-* | sort -n | tail -n 1)
  st=$(floor state "Z:$dir/install/.talvoreen/server-corvel.json")
  li=$(floor list server "Z:$work/www/client-files-$n.json")
  row=$(awk -v n="$n" -v c="$(median "${c[@]}")" -v w="$t_where" -v s="$(median "${s[@]}")" -v p="$peak" \
    -v r="$(echo "$st" | awk '{ print $5 }')" -v wr="$(echo "$st" | awk '{ print $8 }')" -v l="$(echo "$li" | awk '{ print $7 }')" \
    'BEGIN { printf "| %d | %.2f | %.2f | %.1f | %.3f | %.3f | %.3f | %.3f | %d |", n, c, c - w, (c - w) / n * 1e6, r, wr, l, s, p / 1024 }')
  echo "$row"
  scale_rows+="$row"$'\n'
  rm -rf "$dir"
done

# ---- Table ----------------------------------------------------------------------------------
cat <<TABLE

load at end:$(uptime | sed 's/.*load average://')

| measure | time (s) | rate | ratio | target |
|---|---|---|---|---|
| fresh sync, $((sync_bytes / 1048576)) MiB in $sync_files files, whole process | $t_sync | $(rate "$sync_bytes" "$t_sync") MB/s | | |
| in-process fetch + inflate + hash, 16 workers | $t_fetch | $(rate "$sync_bytes" "$t_fetch") MB/s | sync / this: $(ratio "$t_fetch" "$t_sync") | ≥ 0.9 |
| native curl \\| gunzip \\| sha256sum, 16 at once | $t_native_sync | $(rate "$sync_bytes" "$t_native_sync") MB/s | sync / this: $(ratio "$t_native_sync" "$t_sync") | |
$older_row| peak resident memory of the fresh sync | | $sync_peak MiB | | |
| no-op check, $check_files game files, whole process | $t_check | | | ≤ start + 2 × stat = $(awk -v w="$t_where" -v s="$t_stat" 'BEGIN { printf "%.3f", w + 2 * s }') |
| process start (\`--headless where\`) | $t_where | | | |
| native stat of the same files | $t_stat | | check − start = $(awk -v c="$t_check" -v w="$t_where" -v s="$t_stat" 'BEGIN { printf "%.2f", (c - w) / s }') × stat | ≤ 2 × stat |

Check of $check_files game files, its parts in-process: $(paste -sd';' "$work/run.out"); $(cat "$work/list.out"); $(cat "$work/state.out"); $(cat "$work/scan.out")

Scaling, no-op check of a server's file list (median of three; check − start per file; state and list in-process; peak of the whole process):

| files | check (s) | check − start (s) | µs per file | state read (s) | state write (s) | list parse (s) | native stat (s) | peak (MiB) |
|---|---|---|---|---|---|---|---|---|
$scale_rows
TABLE
stop_nginx
[ -n "${KEEP_BENCH:-}" ] || rm -rf "$work"
