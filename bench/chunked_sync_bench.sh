#!/usr/bin/env bash
# Large files in chunks, this build beside an older one in the same run, against nginx on
# 127.0.0.1 (its access log counts the bytes each run fetched):
#   - update: a file of MiB (default 256, random bytes, as a packed model archive is) changed
#     in three places of 4 KiB; bytes fetched and time of the update of an installed copy;
#   - resume: a fresh sync of that file killed once half of it is on disk, then run again;
#     bytes the second run fetches;
#   - one large file: a fresh sync of a tree of one file of BIG MiB (default 512), the median of
#     the rounds.
# The CDN trees, with their chunk lists, are written by this build's talvoreen-publish.
#   bench/chunked_sync_bench.sh OLDER_SOURCE_ROOT [MiB] [BIG MiB] [rounds]
# PARTS="update resume big" (the default) chooses the parts to run; REUSE=1 keeps the trees and
# CDNs of the last run instead of generating and publishing them again.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/tools/lib/loopback_nginx.sh"
old_root="$(cd "$1" && pwd)"
mib="${2:-256}"
big_mib="${3:-512}"
rounds="${4:-2}"
build="$root/build/windows"
work="$root/build/bench-chunked-sync"
. "$root/bench/lib.sh"
mkdir -p "$work"
cmake --build --preset windows --target talvoreen_launcher talvoreen_publish >/dev/null
new_exe="$root/Bin/launcher/Talvoreen Launcher.exe"
old_exe="$old_root/Bin/launcher/Talvoreen Launcher.exe"
[ -f "$old_exe" ] || { echo "no launcher built in $old_root (windows preset)" >&2; exit 2; }
if [ -z "${REUSE:-}" ] || [ ! -d "$work/www/big" ]; then
find "$work" -mindepth 1 -maxdepth 1 ! -name wineprefix ! -name old -exec rm -rf {} +
mkdir -p "$work/nginx" "$work/www"

python3 - "$work" "$mib" "$big_mib" <<'PY'
import os, sys
work, mib, big = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f: f.write(data)
data = bytearray(os.urandom(mib << 20))
put(os.path.join(work, "src1", "data", "model.img"), bytes(data))
for at in (len(data) // 4, len(data) // 2, len(data) * 3 // 4):
    data[at:at + 4096] = os.urandom(4096)
put(os.path.join(work, "src2", "data", "model.img"), bytes(data))
put(os.path.join(work, "srcbig", "data", "huge.img"), os.urandom(big << 20))
PY
publish() {  # publish SOURCE CDN BUILD
  "$root/cmake/wine-run.sh" "$build" "$build/tools/publish/talvoreen-publish.exe" game "Z:$1" --out "Z:$2" \
    --key "Z:$root/keys/development.key" --build "$3" >/dev/null 2>&1
}
publish "$work/src1" "$work/www/cdn1" update-1
cp -a "$work/www/cdn1" "$work/www/cdn2"
publish "$work/src2" "$work/www/cdn2" update-2
publish "$work/srcbig" "$work/www/big" big-1
fi
mkdir -p "$work/old" "$work/nginx"  # the older launcher runs in a Wine prefix of its own, kept between runs
object_size() {  # object_size CDN FILE: bytes of the file's whole gzip object
  local sha; sha=$(sha256sum "$2" | cut -c1-64)
  stat -c %s "$1/game/objects/${sha:0:2}/$sha.gz"
}
whole2=$(object_size "$work/www/cdn2" "$work/src2/data/model.img")
whole1=$(object_size "$work/www/cdn1" "$work/src1/data/model.img")

port=$(free_loopback_port)
start_loopback_nginx "$work/nginx" "$port" 2 512 "$work/nginx/access.log" "root $work/www;" "keepalive_requests 100000;"
stop_all() {
  if [ -f "$work/nginx/nginx.pid" ]; then kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true; fi
  WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null || true
  WINEPREFIX="$work/old/wineprefix" wineserver -k 2>/dev/null || true
}
trap stop_all EXIT
base="http://127.0.0.1:$port"
log_lines() { wc -l <"$work/nginx/access.log"; }
bytes_since() { tail -n +"$(($1 + 1))" "$work/nginx/access.log" | awk '{ s += $10 } END { print s + 0 }'; }

# launcher new|old: the executable and the build folder whose prefix it runs in.
exe_of() { [ "$1" = new ] && echo "$new_exe" || echo "$old_exe"; }
prefix_of() { [ "$1" = new ] && echo "$work" || echo "$work/old"; }
sync_with() {  # sync_with new|old INSTALL CDN
  "$root/cmake/wine-run.sh" "$(prefix_of "$1")" "$(exe_of "$1")" --headless sync --dir "Z:$2" --cdn "$base/$3"
}
expect_synced() {  # expect_synced INSTALL SOURCE
  grep -q '^result up-to-date' "$work/last.out" || { echo "sync failed: $(tail -n 1 "$work/last.out")" >&2; exit 1; }
  cmp -s "$1/data/$(ls "$2/data")" "$2/data/$(ls "$2/data")" || { echo "installed file differs" >&2; exit 1; }
}

echo "machine: $(nproc) cores; load at start:$(uptime | sed 's/.*load average://')"
parts="${PARTS:-update resume big}"
if [[ " $parts " == *" update "* ]]; then
echo "update of a $mib MiB file in three places of 4 KiB (whole object $whole2 bytes):"
for who in new old; do
  install="$work/install-update-$who"
  rm -rf "$install"
  elapsed sync_with "$who" "$install" cdn1 >/dev/null
  expect_synced "$install" "$work/src1"
  mark=$(log_lines)
  t=$(elapsed sync_with "$who" "$install" cdn2)
  expect_synced "$install" "$work/src2"
  b=$(bytes_since "$mark")
  echo "  $who: $t s, $b bytes fetched ($(awk -v b="$b" -v w="$whole2" 'BEGIN { printf "%.2f", 100 * b / w }') % of the whole object)"
done

fi
if [[ " $parts " == *" resume "* ]]; then
echo "fresh sync of the $mib MiB file killed once half of it is on disk, then run again:"
for who in new old; do
  install="$work/install-resume-$who"
  rm -rf "$install"
  "$root/cmake/wine-run.sh" "$(prefix_of "$who")" "$(exe_of "$who")" --headless sync --dir "Z:$install" \
    --cdn "$base/cdn1" >"$work/killed.out" 2>&1 &
  pid=$!
  half=$((mib << 19))
  while kill -0 "$pid" 2>/dev/null; do
    # Bytes on disk, not the size a file was given: the staging file is sized at its start.
    held=$(du -s -B1 "$install/.talvoreen" 2>/dev/null | cut -f1 || echo 0)
    [ "${held:-0}" -ge "$half" ] && break
    sleep 0.02
  done
  # The process started for the .exe is the program itself once Wine's loader mapped it.
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  WINEPREFIX="$(prefix_of "$who")/wineprefix" wineserver -k 2>/dev/null || true
  held=$(du -s -B1 "$install/.talvoreen" 2>/dev/null | cut -f1 || echo 0)
  mark=$(log_lines)
  t=$(elapsed sync_with "$who" "$install" cdn1)
  expect_synced "$install" "$work/src1"
  b=$(bytes_since "$mark")
  echo "  $who: killed with $held bytes in .talvoreen; the next run fetched $b bytes" \
       "($(awk -v b="$b" -v w="$whole1" 'BEGIN { printf "%.1f", 100 * b / w }') % of the whole object) in $t s"
done

fi
if [[ " $parts " == *" big "* ]]; then
echo "fresh sync of a tree of one $big_mib MiB file, $rounds rounds:"
t_new=(); t_old=()
for _ in $(seq "$rounds"); do
  for who in new old; do
    install="$work/install-big-$who"
    rm -rf "$install"
    t=$(elapsed sync_with "$who" "$install" big)
    expect_synced "$install" "$work/srcbig"
    [ "$who" = new ] && t_new+=("$t") || t_old+=("$t")
  done
done
n=$(median "${t_new[@]}"); o=$(median "${t_old[@]}")
echo "  new: ${t_new[*]} s; old: ${t_old[*]} s; median ratio new/old $(ratio "$n" "$o")"
fi
echo "load at end:$(uptime | sed 's/.*load average://')"
