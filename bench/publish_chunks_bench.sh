#!/usr/bin/env bash
# The publisher with chunks against without, under Wine, in one run:
#   - a tree of one large file (default 256 MiB) and a tree of the same size in 40 files of
#     1.2 to 12 MiB, each published into an empty CDN folder with --no-chunks and with chunks
#     (the default, files from 4 MiB on): the time, and the CDN's bytes and files;
#   - publishing the chunked tree again unchanged (everything reused), and again after three
#     4 KiB changes in the large file: the time and the bytes the CDN grew by, with and without
#     chunks;
#   - with OLDER_PUBLISHER=<talvoreen-publish.exe of an earlier build>, that build's first
#     publish of each tree too.
# First publishes are the median of three rounds in which the modes take turns; the rest is one run.
#   bench/publish_chunks_bench.sh [MiB]
# Files are half random and half zeros, so that objects compress by half.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/bench/lib.sh"
mib="${1:-256}"
build="$root/build/windows"
work="$root/build/bench-publish-chunks"
rm -rf "$work"; mkdir -p "$work"
cmake --build --preset windows --target talvoreen_publish >/dev/null
wine_run() { "$root/cmake/wine-run.sh" "$build" "$@"; }
publisher() { wine_run "$build/tools/publish/talvoreen-publish.exe" "$@"; }
key="Z:$root/keys/development.key"
cdn_bytes() { du -sb --apparent-size "$1" | cut -f1; }
cdn_files() { find "$1" -type f | wc -l; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
export SOURCE_DATE_EPOCH=1796601600

echo "machine: $(nproc) cores; load at start:$(uptime | sed 's/.*load average://')"
make_tree "$work/one" "$mib" 1
python3 - "$work/many" "$mib" <<'PY'
import os, sys
root, mib = sys.argv[1], int(sys.argv[2])
weights = [i % 10 + 1 for i in range(40)]
unit = mib * 1048576 // sum(weights)
os.makedirs(root, exist_ok=True)
for i, w in enumerate(weights):
    size = unit * w
    with open(os.path.join(root, "f%02d.bin" % i), "wb") as f:
        f.write(os.urandom(size // 2) + bytes(size - size // 2))
PY

rows=""
row() { rows+="| $1 | $2 | $3 | $4 | $5 | $6 |"$'\n'; }
# first_publish TREE MODE: publishes into an empty folder; the time, then the processor seconds.
first_publish() {
  local exe="$build/tools/publish/talvoreen-publish.exe" flag=()
  [ "$2" = plain ] && flag=(--no-chunks)
  [ "$2" = older ] && exe="$OLDER_PUBLISHER"
  rm -rf "$work/$1-$2"
  echo "$(elapsed wine_run "$exe" game "Z:$work/$1" --out "Z:$work/$1-$2" --key "$key" --build 1 "${flag[@]}") $(cat "$work/last.cpu")"
}
modes=(plain chunks); [ -n "${OLDER_PUBLISHER:-}" ] && modes+=(older)
for tree in one many; do
  declare -A wall=() cpu=()
  # Three rounds, the modes taking turns, so that a busy moment of a shared machine falls on all.
  for round in 1 2 3; do
    for mode in "${modes[@]}"; do
      read -r t c < <(first_publish "$tree" "$mode")
      wall[$mode]+="$t "; cpu[$mode]+="$c "
    done
  done
  for mode in "${modes[@]}"; do
    # shellcheck disable=SC2086
    w=$(median ${wall[$mode]}); p=$(median ${cpu[$mode]})
    [ "$mode" = plain ] && { w_plain=$w; p_plain=$p; b_plain=$(cdn_bytes "$work/$tree-plain"); }
    b=$(cdn_bytes "$work/$tree-$mode")
    note=""
    [ "$mode" != plain ] && note="÷ without chunks: time $(ratio "$w" "$w_plain"), processor $(ratio "$p" "$p_plain"), size $(ratio "$b" "$b_plain")"
    row "$tree: publish, $mode" "$w" "$p" "$(mb "$b")" "$(cdn_files "$work/$tree-$mode")" "$note"
  done
  rm -rf "$work/$tree-older"
  unset wall cpu
done
t_again=$(elapsed publisher game "Z:$work/one" --out "Z:$work/one-chunks" --key "$key" --build 2)
row "one: publish again, unchanged, with chunks" "$t_again" "$(cat "$work/last.cpu")" "" "" "$(grep -o '[0-9]* new chunk objects' "$work/last.out")"
file=$(find "$work/one" -type f)
size=$(stat -c %s "$file")
for at in 1 2 3; do
  printf '%4096s' x | dd of="$file" bs=4096 seek=$((size / 4096 * at / 4)) conv=notrunc status=none
done
for mode in plain chunks; do
  before=$(cdn_bytes "$work/one-$mode")
  flag=(); [ "$mode" = plain ] && flag=(--no-chunks)
  t=$(elapsed publisher game "Z:$work/one" --out "Z:$work/one-$mode" --key "$key" --build 3 "${flag[@]}")
  grown=$(( $(cdn_bytes "$work/one-$mode") - before ))
  row "one: 3 × 4 KiB changed, publish $mode" "$t" "$(cat "$work/last.cpu")" "+$(mb "$grown")" "" \
    "$(grep -o '[0-9]* new chunk objects, [0-9]* bytes' "$work/last.out" || true)"
done
unset SOURCE_DATE_EPOCH

cat <<TABLE

load at end:$(uptime | sed 's/.*load average://')

$mib MiB per tree (one: 1 file; many: 40 files of 1.2 to 12 MiB), $(nproc) threads (--jobs default).

| run | time (s) | processor (s) | CDN (MiB) | CDN files | note |
|---|---|---|---|---|---|
$rows
TABLE
