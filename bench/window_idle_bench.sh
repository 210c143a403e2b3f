#!/usr/bin/env bash
# What the launcher window costs while it waits, beside an earlier build in the same run:
#   bench/window_idle_bench.sh [earlier build's source root] [seconds, default 20]
# Each window (the build whose hosts are all 127.0.0.1) starts on an install folder of its own
# whose CDN answers nothing, so that after a moment nothing runs; Wine draws with Mesa's
# software renderer. For each build, one after the other in a Wine prefix and Xvfb of the
# bench's own:
#   - the processor time of the window's process (every thread: /proc/<pid>/stat) over the
#     given seconds, the window in the foreground, then in the background (a small window of
#     another program in front, not covering it);
#   - frames a second in both states, as window_probe sees them on the screen;
#   - a click on "Ayarlar" (held 80 ms): the time from the press to the button's first changed
#     pixel and from the release to the settings panel's (window_probe click, three times);
# and then every `--shots` picture of both builds, compared byte for byte.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
old_root="${1:-}"
seconds="${2:-20}"
build="$root/build/windows"
work="$root/build/bench-window-idle"
. "$root/bench/lib.sh"
cmake --build --preset windows --target talvoreen_launcher talvoreen_launcher_loopback window_probe >/dev/null
rm -rf "$work"; mkdir -p "$work"
probe="$build/bench/window_probe.exe"
hz=$(getconf CLK_TCK)
wine_run() { "$root/cmake/wine-run.sh" "$work" "$@"; }
cleanup() {
  WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null || true
  if [ -f "$work/xvfb.pid" ]; then kill "$(cat "$work/xvfb.pid")" 2>/dev/null || true; rm -f "$work/xvfb.pid"; fi
}
trap cleanup EXIT
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# measure <label> <launcher>
measure() {
  local label="$1" launcher="$2" install="$work/install-$1" pid fg bg fps_fg fps_bg clicks=() t0 t1
  rm -rf "$install"; mkdir -p "$install"
  "$root/cmake/wine-run.sh" "$work" "$launcher" --dir "Z:$install" --cdn "http://127.0.0.1:9/none" \
    --server-list "http://127.0.0.1:9/none" --gta-url "http://127.0.0.1:9/none.rar" >/dev/null 2>&1 &
  pid=$!
  await_exe "$pid"
  wine_run "$probe" fps 1 >/dev/null || true  # waits for the window
  sleep 8                            # start-up, the first checks fail, nothing runs any more
  t0=$(cpu_ticks "$pid"); sleep "$seconds"; t1=$(cpu_ticks "$pid")
  fg=$(awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", (b - a) / hz / s }')
  fps_fg=$(wine_run "$probe" fps 10 | tr -d '\r')
  for _ in 1 2 3; do clicks+=("$(wine_run "$probe" click | tr -d '\r' | tr ' ' '/' || true)"); sleep 2; done
  # Another program's small window in front.
  wine_run winemine >/dev/null 2>&1 &
  local mine=$!
  sleep 5
  t0=$(cpu_ticks "$pid"); sleep "$seconds"; t1=$(cpu_ticks "$pid")
  bg=$(awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", (b - a) / hz / s }')
  fps_bg=$(wine_run "$probe" fps 10 | tr -d '\r')
  kill "$mine" 2>/dev/null || true
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null || true
  echo "| $label | $fg | $fps_fg | $bg | $fps_bg | ${clicks[*]} |"
}

wine_run cmd /c ver >/dev/null 2>&1 || true  # the prefix is made before anything is timed
echo "machine: $(nproc) cores; load at start:$(uptime | sed 's/.*load average://')"
echo
echo "| build | cores, foreground | frames/s, foreground | cores, background | frames/s, background | press to button / release to panel (ms) |"
echo "|---|---|---|---|---|---|"
measure this "$build/tests/loopback/Talvoreen Launcher.exe"
if [ -n "$old_root" ]; then
  measure earlier "$old_root/build/windows/tests/loopback/Talvoreen Launcher.exe"
  measure this-again "$build/tests/loopback/Talvoreen Launcher.exe"
fi
echo
echo "load at end:$(uptime | sed 's/.*load average://')"

# The pictures: every --shots file of both builds, byte for byte.
if [ -n "$old_root" ]; then
  wine_run "$root/Bin/launcher/Talvoreen Launcher.exe" --shots "Z:$work/shots-this" >/dev/null 2>&1
  wine_run "$old_root/Bin/launcher/Talvoreen Launcher.exe" --shots "Z:$work/shots-earlier" >/dev/null 2>&1
  same=0; differ=()
  for f in "$work"/shots-earlier/*.png; do
    if cmp -s "$f" "$work/shots-this/$(basename "$f")"; then same=$((same + 1)); else differ+=("$(basename "$f")"); fi
  done
  echo "shots: $same identical of $(ls "$work"/shots-earlier/*.png | wc -l)${differ:+; differ: ${differ[*]}}"
fi
