#!/usr/bin/env bash
# Verification and publishing under Wine, each beside its floor, measured in one run:
#   - the hash engine: which code digests SHA-256 (the processor's SHA instructions or not) and
#     what it and BCrypt digest in memory on one thread;
#   - the in-process floor: the same HashFiles the run uses over the same files, 1 and N
#     threads (N = processors, at most 8), with the time each of its threads waited for
#     anything but a processor (bench/thread_waits.py), which shows a serialised step even on
#     a machine too busy for the wall times to show it;
#   - `--headless verify` of the tree (default 400 MiB in 400 files) on all cores and on one
#     core (taskset), each beside the process start (`--headless where`) on the same cores,
#     and the same verify run in-process on 1 and N hashing threads;
#   - with BASELINE_LAUNCHER=<launcher .exe of an earlier build>, that build's verify too;
#   - native sha256sum with 1 and N processes;
#   - talvoreen-publish of the same tree with --jobs 1 and --jobs N, with its phase times, and
#     whether both wrote the same bytes.
#   bench/verify_bench.sh [MiB] [files]
# Wine runs and floors are the best of three: on a shared machine the least disturbed run
# shows what the code does. Publishing runs once per thread count.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/tools/lib/loopback_nginx.sh"
. "$root/bench/lib.sh"
mib="${1:-400}"
count="${2:-400}"
build="$root/build/windows"
work="$root/build/bench-verify"
exe="$root/Bin/launcher/Talvoreen Launcher.exe"
rm -rf "$work"; mkdir -p "$work/nginx" "$work/www"
cmake --build --preset windows --target talvoreen_launcher talvoreen_publish sync_floor_bench >/dev/null
wine_run() { "$root/cmake/wine-run.sh" "$build" "$@"; }
one_core() { taskset -c 0 "$root/cmake/wine-run.sh" "$build" "$@"; }
publisher() { wine_run "$build/tools/publish/talvoreen-publish.exe" "$@"; }
threads=$(nproc); [ "$threads" -gt 8 ] && threads=8
# best3 <command...>: the least of three times; the processor seconds of that run go to $work/best.cpu.
best3() {
  local best="" t
  for _ in 1 2 3; do
    t=$(elapsed "$@")
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then
      best=$t; cp "$work/last.cpu" "$work/best.cpu"
    fi
  done
  echo "$best"
}
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a - b }'; }

echo "machine: $(nproc) cores; load at start:$(uptime | sed 's/.*load average://')"

make_tree "$work/source" "$mib" "$count" equal
bytes=$(du -sb --apparent-size "$work/source" | cut -f1)
key="Z:$root/keys/development.key"

# ---- Publishing on 1 and N threads: same bytes, and the time of each --------------------------
export SOURCE_DATE_EPOCH=1796601600  # the same "created" in both manifests
t_pub1=$(elapsed publisher game "Z:$work/source" --out "Z:$work/pub-1" --key "$key" --build verify-1 --jobs 1)
grep '^phases' "$work/last.out" | tr -d '\r' >"$work/phases-1"; c_pub1=$(cat "$work/last.cpu")
t_pubn=$(elapsed publisher game "Z:$work/source" --out "Z:$work/www/verify" --key "$key" --build verify-1 --jobs "$threads")
grep '^phases' "$work/last.out" | tr -d '\r' >"$work/phases-n"; c_pubn=$(cat "$work/last.cpu")
unset SOURCE_DATE_EPOCH
if diff -r -q "$work/pub-1" "$work/www/verify" >/dev/null; then same="identical"; else same="DIFFERENT"; fi
rm -rf "$work/pub-1"

port=$(free_loopback_port)
start_loopback_nginx "$work/nginx" "$port" 2 512 off "root $work/www;" "keepalive_requests 100000;"
stop_nginx() { if [ -f "$work/nginx/nginx.pid" ]; then kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true; fi; }
trap stop_nginx EXIT
base="http://127.0.0.1:$port"

# ---- Verify ----------------------------------------------------------------------------------
cp -r "$work/source" "$work/install"
verify=(--headless verify --dir "Z:$work/install" --cdn "$base/verify")
wine_run "$exe" "${verify[@]}" >/dev/null  # state file, warm cache
t_verify=$(best3 wine_run "$exe" "${verify[@]}"); c_verify=$(cat "$work/best.cpu")
tail -n 1 "$work/last.out"
t_start=$(best3 wine_run "$exe" --headless where)
t_verify1=$(best3 one_core "$exe" "${verify[@]}"); c_verify1=$(cat "$work/best.cpu")
t_start1=$(best3 one_core "$exe" --headless where)
if [ -n "${BASELINE_LAUNCHER:-}" ]; then
  t_base=$(best3 wine_run "$BASELINE_LAUNCHER" "${verify[@]}"); c_base=$(cat "$work/best.cpu")
  tail -n 1 "$work/last.out"
fi
python3 "$root/bench/thread_waits.py" sync_floor_bench.exe -- "$root/cmake/wine-run.sh" "$build" \
  "$build/bench/sync_floor_bench.exe" hash "Z:$work/install" "$threads" | tr -d '\r' >"$work/hash.out"
t_hash1=$(awk '/^hash 1 thread/ { print $4 }' "$work/hash.out")
t_hashn=$(awk -v n="$threads" '$2 == n { print $4 }' "$work/hash.out" | tail -n 1)
wine_run "$build/bench/sync_floor_bench.exe" verify "Z:$work/install" "$base/verify" "$threads" | tr -d '\r' >"$work/run.out"
sha() { find "$work/install" -name '*.bin' -print0 | xargs -0 -P "$1" -n 50 sha256sum >/dev/null; }
t_sha1=$(best3 sha 1)
t_shan=$(best3 sha "$threads")

# ---- Table -----------------------------------------------------------------------------------
v=$(minus "$t_verify" "$t_start")
v1=$(minus "$t_verify1" "$t_start1")
cat <<TABLE

load at end:$(uptime | sed 's/.*load average://')

$(head -n 2 "$work/hash.out")

The floor's threads (the first is the main thread, which also lists the files and measures in
memory; then one more per run on $threads threads):
$(grep '^thread' "$work/hash.out" | sed 's/^/    /')

Processor time (user + system) beside a wall time tells how much of the cores a run had.

| measure | time (s) | rate | ratio | target |
|---|---|---|---|---|
| verify, $((bytes / 1048576)) MiB in $count files, whole process, $threads cores (processor $c_verify s) | $t_verify | $(rate "$bytes" "$t_verify") MB/s | | |
| process start (\`--headless where\`), $threads cores | $t_start | | | |
| verify − start, $threads cores | $v | $(rate "$bytes" "$v") MB/s | ÷ floor on $threads threads: $(ratio "$v" "$t_hashn") | ≤ 1.5 |
| in-process floor, $threads threads | $t_hashn | $(rate "$bytes" "$t_hashn") MB/s | | |
| in-process floor, 1 thread | $t_hash1 | $(rate "$bytes" "$t_hash1") MB/s | 1 thread ÷ $threads threads: $(ratio "$t_hash1" "$t_hashn") | ≥ 1.7 |
| verify, whole process, 1 core (processor $c_verify1 s) | $t_verify1 | $(rate "$bytes" "$t_verify1") MB/s | 1 core ÷ $threads cores: $(ratio "$t_verify1" "$t_verify") | ≥ 1.5 |
| verify − start, 1 core (start $t_start1) | $v1 | $(rate "$bytes" "$v1") MB/s | 1 core ÷ $threads cores: $(ratio "$v1" "$v"); ÷ floor on 1 thread: $(ratio "$v1" "$t_hash1") | |
$(if [ -n "${t_base:-}" ]; then echo "| verify of the earlier build, whole process, $threads cores (processor $c_base s) | $t_base | $(rate "$bytes" "$t_base") MB/s | ÷ this verify: $(ratio "$t_base" "$t_verify") | ≥ 5 |"; fi)
| native sha256sum, 1 process | $t_sha1 | $(rate "$bytes" "$t_sha1") MB/s | verify ÷ this: $(ratio "$t_verify" "$t_sha1") | |
| native sha256sum, $threads processes | $t_shan | $(rate "$bytes" "$t_shan") MB/s | verify ÷ this: $(ratio "$t_verify" "$t_shan") | |
| publish, 1 thread (processor $c_pub1 s) | $t_pub1 | $(rate "$bytes" "$t_pub1") MB/s | | |
| publish, $threads threads (processor $c_pubn s) | $t_pubn | $(rate "$bytes" "$t_pubn") MB/s | 1 thread ÷ $threads: $(ratio "$t_pub1" "$t_pubn") | ≥ 1.7 |

The verify run in-process, without the process around it: $(paste -sd ';' "$work/run.out")

Publisher, 1 thread: $(cat "$work/phases-1"); $threads threads: $(cat "$work/phases-n"); manifests and objects of the two runs: $same.
TABLE
stop_nginx
[ -n "${KEEP_BENCH:-}" ] || rm -rf "$work"
