#!/usr/bin/env bash
# A fresh sync started from the window against the same sync headless, in alternating rounds:
#   bench/window_sync_bench.sh [MiB, default 400] [files, default 400] [rounds, default 3]
# A generated build (bench/lib.sh's make_tree) published with talvoreen-publish and served by
# nginx on 127.0.0.1. The window (the build whose hosts are all 127.0.0.1, in the foreground of
# an Xvfb of the bench's own, drawing with Mesa's software renderer) starts on an empty folder;
# once its check shows "Oyun dosyaları indirilmedi", window_probe presses the status bar's
# button, and the time runs until the log says "[game] update ended". The headless sync is
# the whole `--headless sync` process, its start included.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/tools/lib/loopback_nginx.sh"
. "$root/bench/lib.sh"
mib="${1:-400}"
files="${2:-400}"
rounds="${3:-3}"
build="$root/build/windows"
work="$root/build/bench-window-sync"
rm -rf "$work"; mkdir -p "$work/nginx" "$work/www"
cmake --build --preset windows --target talvoreen_launcher talvoreen_launcher_loopback talvoreen_publish window_probe >/dev/null
window_exe="$build/tests/loopback/Talvoreen Launcher.exe"
wine_run() { "$root/cmake/wine-run.sh" "$work" "$@"; }
make_tree "$work/source" "$mib" "$files"
port=$(free_loopback_port)
start_loopback_nginx "$work/nginx" "$port" 2 512 off "root $work/www;" "keepalive_requests 100000;"
stop_all() {
  if [ -f "$work/nginx/nginx.pid" ]; then kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true; fi
  WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null || true
  if [ -f "$work/xvfb.pid" ]; then kill "$(cat "$work/xvfb.pid")" 2>/dev/null || true; rm -f "$work/xvfb.pid"; fi
}
trap stop_all EXIT
wine_run "$build/tools/publish/talvoreen-publish.exe" game "Z:$work/source" --out "Z:$work/www/sync" \
  --key "Z:$root/keys/development.key" --build sync-1 >/dev/null 2>&1
base="http://127.0.0.1:$port/sync"

# The log line's appearance, polled every 20 ms by one process (a poll that starts programs
# would take the processor from the sync it times); prints the seconds from now.
wait_for_line() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys, time
log, text, bound = sys.argv[1], sys.argv[2].encode(), float(sys.argv[3])
start = time.monotonic()
while time.monotonic() - start < bound:
    try:
        if text in open(log, "rb").read():
            print("%.3f" % (time.monotonic() - start))
            sys.exit(0)
    except OSError:
        pass
    time.sleep(0.02)
print("timeout")
sys.exit(1)
PY
}
cpu_seconds() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$1/stat"; }

window_sync() {
  local install="$work/install-window" log pid start front
  rm -rf "$install"; mkdir -p "$install"
  log="$install/TALVOREEN/logs/launcher.log"
  "$root/cmake/wine-run.sh" "$work" "$window_exe" --dir "Z:$install" --cdn "$base" \
    --server-list "http://127.0.0.1:9/none" --gta-url "http://127.0.0.1:9/none.rar" >/dev/null 2>&1 &
  pid=$!
  wait_for_line "$log" "status: Oyun dosyaları indirilmedi" 120 >/dev/null
  await_exe "$pid"
  sleep 2
  local before after
  front=$(wine_run "$build/bench/window_probe.exe" press 926 604 | tr -d '\r')
  before=$(cpu_seconds "$pid")
  wait_for_line "$log" "[game] update ended" 600
  after=$(cpu_seconds "$pid")
  echo " (window $front; its processor time during the sync $(awk -v a="$before" -v b="$after" 'BEGIN { printf "%.2f", b - a }') s)" >&2
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null || true
}
headless_sync() {
  rm -rf "$work/install-headless"
  wine_run "$root/Bin/launcher/Talvoreen Launcher.exe" --headless sync --dir "Z:$work/install-headless" --cdn "$base"
}

echo "machine: $(nproc) cores; load at start:$(uptime | sed 's/.*load average://')"
wine_run cmd /c ver >/dev/null 2>&1 || true
t_window=(); t_headless=()
for _ in $(seq "$rounds"); do
  t_headless+=("$(elapsed headless_sync)")
  echo " (headless processor time $(cat "$work/last.cpu") s)" >&2
  grep -q "^result up-to-date" "$work/last.out" || { echo "the headless sync failed" >&2; cat "$work/last.out" >&2; exit 1; }
  t_window+=("$(window_sync)")
done
w=$(median "${t_window[@]}"); h=$(median "${t_headless[@]}")
echo "load at end:$(uptime | sed 's/.*load average://')"
echo "rounds: window ${t_window[*]}; headless ${t_headless[*]}"
echo "| fresh sync, $mib MiB in $files files | window $w s | headless $h s | window ÷ headless $(ratio "$w" "$h") |"
