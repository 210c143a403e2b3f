#!/usr/bin/env bash
# Unpack throughput of a generated game archive (default 1024 MiB of data): Debian's
# `unrar x` and the launcher's installer under Wine, on the same archive in one run.
#   bench/gta_unpack_bench.sh [megabytes]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
megabytes="${1:-1024}"
build="$root/build/windows"
work="$root/build/bench-unpack"
rm -rf "$work"; mkdir -p "$work/tree/GTA-SA/models" "$work/tree/GTA-SA/audio"
cmake --build --preset windows --target gta_unpack_bench >/dev/null

# A stand-in game: one large image and many mid-sized files, as a real copy has.
head -c $((megabytes / 2))M /dev/urandom >"$work/tree/GTA-SA/models/gta3.img"
printf 'stand-in\n' >"$work/tree/GTA-SA/gta_sa.exe"
for i in $(seq 1 $((megabytes / 4))); do head -c 2M /dev/urandom >"$work/tree/GTA-SA/audio/track$i.raw"; done
(cd "$work/tree" && rar a -m1 -idq ../game.rar GTA-SA)

mkdir -p "$work/unrar-out"
start=$(date +%s.%N)
unrar x -idq "$work/game.rar" "$work/unrar-out/"
end=$(date +%s.%N)
bytes=$(du -sb "$work/unrar-out" | cut -f1)
awk -v b="$bytes" -v s="$start" -v e="$end" 'BEGIN { printf "unrar x             %8.1f MB/s (%d bytes, %.1f s)\n", b / (e - s) / 1e6, b, e - s }'

mkdir -p "$work/install/.talvoreen/gta"
mv "$work/game.rar" "$work/install/.talvoreen/gta/talvoreen-gtasa.rar"
"$root/cmake/wine-run.sh" "$build" "$build/bench/gta_unpack_bench.exe" "Z:$work/install"
rm -rf "$work"
