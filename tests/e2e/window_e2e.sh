#!/usr/bin/env bash
# The launcher window end to end, under Xvfb in a Wine prefix made for this run:
#   window_e2e.sh <build dir> <launcher exe> <game stand-in exe> <talvoreen-publish exe>
# The launcher is a build whose catalogue hosts are all 127.0.0.1, so nothing leaves the
# machine. A local CDN (python's http.server) holds a published game whose Talvoreen.exe is
# the stand-in client, a small RAR with a stand-in GTA folder and an empty server file list.
# Clicks are real X events (xdotool); what the window shows is followed in its log, which
# records every change of the status bar's title.
set -euo pipefail
build="$(cd "$1" && pwd)"; exe="$2"; standin="$3"; publisher="$4"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
. "$root/tools/lib/loopback_nginx.sh"
work="$build/e2e-window"
out="$work/out"   # screenshots and logs worth keeping after the run

wine_run() { "$root/cmake/wine-run.sh" "$work" "$@"; }
cleanup() {
  set +e
  [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null
  WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null
  [ -f "$work/xvfb.pid" ] && kill "$(cat "$work/xvfb.pid")" 2>/dev/null && rm -f "$work/xvfb.pid"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; [ -f "$log" ] && tail -n 40 "$log" >&2; exit 1; }

# Waits (bounded) until a command succeeds; a broken build ends here, not in a hang.
wait_for() {
  local what="$1" limit="$2"; shift 2
  for _ in $(seq $((limit * 4))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.25; done
  fail "$what did not happen within $limit s"
}

rm -rf "$work"
mkdir -p "$work/cdn/talvoreen-launcher" "$work/source/data" "$work/gta/GTA-SA/models" "$out"
prefix="$work/wineprefix"
install_unix="$prefix/drive_c/e2e/Talvoreen"
log="$install_unix/TALVOREEN/logs/launcher.log"

echo "== a fresh Wine prefix"
wine_run cmd /c exit >/dev/null 2>&1 || true
if [ -s "$work/xvfb.display" ]; then export DISPLAY=":$(head -n 1 "$work/xvfb.display")"; fi
[ -n "${DISPLAY:-}" ] || fail "no X display"

echo "== local CDN"
cp "$standin" "$work/source/Talvoreen.exe"
printf 'weather=clear\n' >"$work/source/data/gta.dat"
wine_run "$publisher" game "Z:$work/source" --out "Z:$work/cdn/talvoreen-launcher" \
  --key "Z:$root/keys/development.key" --build e2e-1 >/dev/null
printf 'stand-in game executable\n' >"$work/gta/GTA-SA/gta_sa.exe"
printf 'stand-in archive of models\n' >"$work/gta/GTA-SA/models/gta3.img"
(cd "$work/gta" && rar a -m0 -idq "$work/cdn/talvoreen-launcher/talvoreen-gtasa.rar" GTA-SA)
mkdir -p "$work/cdn/.talvoreen"
printf '{"schema":1,"resources":[]}' >"$work/cdn/.talvoreen/client-files.json"
port=$(free_loopback_port)
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/cdn" >"$work/http.log" 2>&1 &
server_pid=$!
base="http://127.0.0.1:$port"
wait_for "the CDN answering" 20 python3 -c "import urllib.request; urllib.request.urlopen('$base/.talvoreen/client-files.json')"

window() { xdotool search --onlyvisible --name '^Talvoreen Launcher$' | head -n 1; }
click() {  # x y in DIPs of the 1100 x 660 window (96 DPI under Xvfb)
  local id x y
  id=$(window); eval "$(xdotool getwindowgeometry --shell "$id")"
  xdotool mousemove $((X + $1)) $((Y + $2)); xdotool click 1
}
in_log() { grep -qF -- "$1" "$log"; }
# A screenshot of the whole display, once the window has painted something on it.
painted() { import -window root "$1" && [ "$(convert "$1" -format '%[fx:mean>0.02]' info:)" = 1 ]; }
snap() { wait_for "a painted window for $1" 30 painted "$out/$1.png"; }
selected_server() { wine_run reg query 'HKCU\Software\Talvoreen\Launcher' /v SelectedServer 2>/dev/null | grep -q "$1"; }

echo "== first start: nothing installed, the setup screen"
wine_run "$exe" >/dev/null 2>&1 &
first=$!
wait_for "the launcher window" 60 window
snap setup
echo "== a link forwarded to the setup screen only remembers its server"
wine_run "$exe" --link "talvoreen://meridian" >/dev/null 2>&1
wait_for "SelectedServer = meridian" 20 selected_server meridian
echo "== the window's close button"
click 1076 22
wait_for "the window closing" 30 bash -c "! kill -0 $first 2>/dev/null"

echo "== start with --dir: check, download on the primary button, GTA, ready"
wine_run "$exe" --dir 'C:\e2e\Talvoreen' --cdn "$base/talvoreen-launcher" \
  --gta-url "$base/talvoreen-launcher/talvoreen-gtasa.rar" --server-list "$base/.talvoreen/client-files.json" \
  >/dev/null 2>&1 &
wait_for "the launcher window" 60 window
wait_for "the first download offered" 90 in_log "status: Oyun dosyaları indirilmedi"
snap first-download
click 926 604
wait_for "the player ready to play" 180 in_log "status: Oynamaya hazır"
in_log "[gta] not installed in C:\\e2e\\Talvoreen\\GTA-SA, downloading it" || fail "GTA was not downloaded by itself"
[ -f "$install_unix/GTA-SA/models/gta3.img" ] || fail "GTA was not unpacked"
snap ready

echo "== a forwarded link selects its server and joins it"
wine_run "$exe" --link "talvoreen://corvel" >/dev/null 2>&1
wait_for "the link selecting corvel" 30 in_log "link talvoreen://corvel -> corvel"
wait_for "the launcher joining corvel" 60 in_log "link: joining corvel"
wait_for "the game copy starting" 60 in_log "started game copy 1 for corvel"
wait_for "the stand-in recording its start" 30 test -f "$install_unix/game-copy-1.txt"
grep -q "arg1=mtasa://127.0.0.1:22003" "$install_unix/game-copy-1.txt" || fail "the game copy was not given the server"
selected_server corvel || fail "SelectedServer is not corvel"
cp "$log" "$out/launcher.log"

updater_unix="$prefix/drive_c/e2e/updater"
mkdir -p "$updater_unix"
publish_launcher() {
  wine_run "$publisher" launcher "$1" --out "Z:$work/cdn/talvoreen-launcher" \
    --key "Z:$root/keys/development.key" --version "$2" >/dev/null
}
start_installed_copy() {
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true   # whatever ran before ends
  cp "$exe" "$updater_unix/Talvoreen Launcher.exe"
  rm -f "$updater_unix/Talvoreen Launcher.exe.old"
  wine_run 'C:\e2e\updater\Talvoreen Launcher.exe' --dir 'C:\e2e\Talvoreen' --cdn "$base/talvoreen-launcher/" \
    --gta-url "$base/talvoreen-launcher/talvoreen-gtasa.rar" --server-list "$base/.talvoreen/client-files.json" \
    >/dev/null 2>&1 &
}
last_status_is() { [ "$(grep -F 'status: ' "$log" | tail -n 1)" != "" ] && grep -F 'status: ' "$log" | tail -n 1 | grep -qF "$1"; }

echo "== a newer launcher that cannot start: the window goes on with this version"
printf 'not a program at all\n' >"$work/broken.exe"
publish_launcher "$work/broken.exe" 0.4.22
start_installed_copy
wait_for "the failed restart in the log" 120 in_log "the updated launcher could not be started"
wait_for "the window going on" 60 last_status_is "status: Oynamaya hazır"
echo "== ... and still holds the single-instance lock: a second start hands its link over"
wine_run "$exe" --link "talvoreen://meridian" >/dev/null 2>&1
wait_for "the link reaching the window" 30 in_log "link talvoreen://meridian -> meridian"
[ "$(xdotool search --onlyvisible --name '^Talvoreen Launcher$' | wc -l)" = 1 ] || fail "a second window opened"

echo "== a newer launcher on the CDN: downloaded, swapped in and restarted with the same options"
# The "new launcher" is the stand-in program: it records its command line beside itself.
publish_launcher "$standin" 0.4.23
start_installed_copy
wait_for "the updated launcher starting" 120 test -f "$updater_unix/game-copy-1.txt"
record="$updater_unix/game-copy-1.txt"
grep -q "^commandLine=.*--after-update [0-9][0-9]* --dir \"C:\\\\e2e\\\\Talvoreen\" --cdn \"$base/talvoreen-launcher\"\$" "$record" \
  || { cat "$record" >&2; fail "the new launcher did not get the restart arguments"; }
cmp -s "$updater_unix/Talvoreen Launcher.exe" "$standin" || fail "the launcher file was not replaced"
in_log "restarting into the updated launcher" || fail "no restart line in the log"
echo "window end to end: passed"
