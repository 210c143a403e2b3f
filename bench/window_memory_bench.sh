#!/usr/bin/env bash
# Peak memory of the launcher window with every server's largest client-file list installed:
#   bench/window_memory_bench.sh [files, default 200000] [path bytes, default 240]
#   BASELINE_LAUNCHER=<an earlier build of talvoreen_launcher_loopback> bench/window_memory_bench.sh
# Four state files (corvel, talvoreen, meridian, dev) of <files> entries each, made by
# tests/sync/largest_client_list.py with every listed file present, and that list served by
# nginx on 127.0.0.1. The window starts with the first server selected, checks it (a no-op
# over <files> files) while the others stay unselected; once more with one listed file missing,
# which the check then finds to fetch; and once with none selected.
# The figures: the peak resident memory of its process (VmHWM) and the peak of its private
# part (RssAnon, sampled every 10 ms), what Wine reports as PagefileUsage. The
# launcher is the build with every catalogue host on 127.0.0.1, so nothing leaves the machine.
# The window runs in a Wine prefix and an Xvfb of the bench's own (build/bench-window-memory).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/tools/lib/loopback_nginx.sh"
files="${1:-200000}"
path_bytes="${2:-240}"
build="$root/build/windows"
work="$root/build/bench-window-memory"
. "$root/bench/lib.sh"
exe="$build/tests/loopback/Talvoreen Launcher.exe"
cmake --build --preset windows --target talvoreen_launcher talvoreen_launcher_loopback >/dev/null
mkdir -p "$work"
python3 "$root/tests/sync/largest_client_list.py" "$work/list" "$files" "$path_bytes"  # kept between runs

port=$(free_loopback_port)
rm -rf "$work/nginx"
start_loopback_nginx "$work/nginx" "$port" 1 64 off "root $work/list;"
cleanup() {
  if [ -f "$work/missing-file" ] && [ -n "${missing:-}" ]; then mv "$work/missing-file" "$missing"; fi
  if [ -f "$work/nginx/nginx.pid" ]; then kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true; fi
  WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null || true
  # Gone before the next run looks for it: a display still shutting down would be taken for
  # a live one.
  if [ -f "$work/xvfb.pid" ]; then
    local xvfb
    xvfb=$(cat "$work/xvfb.pid")
    kill "$xvfb" 2>/dev/null || true
    for _ in $(seq 200); do kill -0 "$xvfb" 2>/dev/null || break; sleep 0.05; done
    rm -f "$work/xvfb.pid"
  fi
}
trap cleanup EXIT
wine_run() { "$root/cmake/wine-run.sh" "$work" "$@"; }

# measure <label> <launcher> <selected server key, or none>: one window from start to rest.
measure() {
  local label="$1" launcher="$2" selected="$3" install="$work/install" pid marker
  if [ "$selected" = none ]; then
    wine_run reg delete 'HKCU\Software\Talvoreen\Launcher' /v SelectedServer /f >/dev/null 2>&1 || true
    marker="[game] failed"
  else
    wine_run reg add 'HKCU\Software\Talvoreen\Launcher' /v SelectedServer /t REG_SZ /d "$selected" /f >/dev/null 2>&1
    marker="[server $selected] check ended"
  fi
  rm -rf "$install"
  mkdir -p "$install/.talvoreen"
  for key in corvel talvoreen meridian dev; do cp "$work/list/state.json" "$install/.talvoreen/server-$key.json"; done
  # The CDN has nothing (the update and game-file checks fail at once), the list is the
  # largest, the cache holds every file it names.
  # Not through a function: the process started in the background must be the one that
  # becomes the launcher, so that its pid is the launcher's.
  "$root/cmake/wine-run.sh" "$work" "$launcher" --dir "Z:$install" --cdn "http://127.0.0.1:$port/no-cdn" \
    --server-list "http://127.0.0.1:$port/client-files.json" --cache "Z:$work/list/cache" \
    --gta-url "http://127.0.0.1:$port/no-gta.rar" --dev-server >/dev/null 2>&1 &
  pid=$!
  await_exe "$pid"
  # Sampled every 10 ms (a check's sort of its list into what to keep, hash and fetch is a
  # spike of a fraction of a second): resident memory and its anonymous (private) part, which is what
  # Wine reports as the process's PagefileUsage; the window draws with Mesa's software
  # renderer here, whose buffers are part of both. Ends 10 s after the marker line (or, for a
  # build that does not log it, 120 s after the start).
  python3 - "$pid" "$install/TALVOREEN/logs/launcher.log" "$marker" >"$work/sample.out" <<'PY'
import os, sys, time
pid, log, marker = sys.argv[1], sys.argv[2], sys.argv[3].encode()
def status():
    values = {}
    for line in open("/proc/%s/status" % pid):
        key, _, rest = line.partition(":")
        if rest.strip().endswith("kB"):
            values[key] = int(rest.split()[0]) // 1024
    return values
def ended():
    try:
        return marker in open(log, "rb").read()
    except OSError:
        return False
start = time.monotonic()
baseline = bool(os.environ.get("BASELINE_RUN"))
until = start + (120 if baseline else 600)
peak_private = 0
values = {}
seen = False
while time.monotonic() < until:
    try:
        values = status()
    except OSError:
        break
    peak_private = max(peak_private, values.get("RssAnon", 0))
    if not baseline and not seen and ended():
        seen = True
        until = time.monotonic() + 10
    time.sleep(0.01)
print(values.get("VmHWM", 0), peak_private, values.get("RssAnon", 0))
PY
  local peak private rest seen
  read -r peak private rest <"$work/sample.out"
  seen=$(grep -cF "$marker" "$install/TALVOREEN/logs/launcher.log" || true)
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "| $label | $selected | $peak | $private | $rest | $([ "$seen" -gt 0 ] && echo "logged" || echo "not logged") |"
}

echo "machine: $(nproc) cores; load at start:$(uptime | sed 's/.*load average://')"
echo "four server states of $files files ($(du -m "$work/list/state.json" | cut -f1) MiB each), selected server checked:"
echo
echo "| launcher | selected server | peak resident (MiB) | peak private (MiB) | private at the end (MiB) | its check's end |"
echo "|---|---|---|---|---|---|"
# One listed file missing from the cache: the check finds an update and writes the record
# back with what it verified (the file is put back when the run ends, however it ends).
missing_all=("$work"/list/cache/resources/r007/*/*/*)
missing="${missing_all[0]}"
with_one_missing() {
  mv "$missing" "$work/missing-file"
  "$@"
  mv "$work/missing-file" "$missing"
}
measure "this build" "$exe" none
measure "this build" "$exe" corvel
with_one_missing measure "this build, one file missing" "$exe" corvel
if [ -n "${BASELINE_LAUNCHER:-}" ]; then
  BASELINE_RUN=1 measure "baseline" "$BASELINE_LAUNCHER" none
  BASELINE_RUN=1 measure "baseline" "$BASELINE_LAUNCHER" corvel
  BASELINE_RUN=1 with_one_missing measure "baseline, one file missing" "$BASELINE_LAUNCHER" corvel
fi
# The floor: the same check alone, headless (no window, no other state file read).
mkdir -p "$work/install/.talvoreen"
cp "$work/list/state.json" "$work/install/.talvoreen/server-corvel.json"
/usr/bin/time -f '%M' -o "$work/headless-peak-kb" "$root/cmake/wine-run.sh" "$work" "$root/Bin/launcher/Talvoreen Launcher.exe" \
  --headless server-check-corvel --dir "Z:$work/install" --server-list "http://127.0.0.1:$port/client-files.json" \
  --cache "Z:$work/list/cache" >"$work/headless.out" 2>&1 || true
echo "| headless server-check-corvel alone | corvel | $(( $(cat "$work/headless-peak-kb") / 1024 )) | | | $(tail -n 1 "$work/headless.out" | tr -d '\r') |"
