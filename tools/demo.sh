#!/usr/bin/env bash
# Sets up the machine, builds the launcher and runs its headless jobs under Wine against
# local stand-ins: a generated game archive (not the real game) served by nginx on
# 127.0.0.1, installed into build/demo/install. The first "gta" run is interrupted on
# purpose; the second resumes the download instead of starting over.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/tools/lib/loopback_nginx.sh"
cd "$root"

bash tools/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target talvoreen_launcher talvoreen_publish talvoreen_launcher_loopback

build="$root/build/windows"
demo="$root/build/demo"
launcher() { "$root/cmake/wine-run.sh" "$build" "$root/Bin/launcher/Talvoreen Launcher.exe" "$@"; }
cleanup() {
  [ -f "$demo/nginx/nginx.pid" ] && kill "$(cat "$demo/nginx/nginx.pid")" 2>/dev/null || true
  WINEPREFIX="$build/wineprefix" wineserver -k 2>/dev/null || true
  if [ -f "$build/xvfb.pid" ]; then kill "$(cat "$build/xvfb.pid")" 2>/dev/null || true; rm -f "$build/xvfb.pid"; fi
}
trap cleanup EXIT

rm -rf "$demo"
mkdir -p "$demo/cdn/talvoreen-launcher" "$demo/nginx" "$demo/tree/GTA-SA/models" "$demo/tree/GTA-SA/data"

echo "== a stand-in game archive (generated; not the real game)"
printf 'stand-in game executable\n' >"$demo/tree/GTA-SA/gta_sa.exe"
head -c 40M /dev/urandom >"$demo/tree/GTA-SA/models/gta3.img"
printf 'weather=clear\n' >"$demo/tree/GTA-SA/data/gta.dat"
(cd "$demo/tree" && rar a -m0 -idq "$demo/cdn/talvoreen-launcher/talvoreen-gtasa.rar" GTA-SA)
ls -l "$demo/cdn/talvoreen-launcher/talvoreen-gtasa.rar"

publish() { "$root/cmake/wine-run.sh" "$build" "$build/tools/publish/talvoreen-publish.exe" "$@"; }
key="Z:$root/keys/development.key"
echo "== talvoreen-publish: a generated sample game (build demo-1) and this launcher as version 0.4.22"
# A few hundred files of varied sizes; random content, nothing copied from anywhere.
python3 - "$demo/source" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(2026)
for i in range(320):
    folder = os.path.join(root, ["models", "audio", "data/maps", "scripts", "textures"][i % 5])
    os.makedirs(folder, exist_ok=True)
    size = rng.choice([0, 100, 2_000, 40_000, 300_000, 1_500_000]) if i % 40 else 6_000_000
    with open(os.path.join(folder, "file%03d.bin" % i), "wb") as f:
        f.write(rng.randbytes(size // 2) + bytes(size - size // 2))
with open(os.path.join(root, "Talvoreen.exe"), "wb") as f:
    f.write(b"MZ stand-in game client, not a real program\n")
PY
publish game "Z:$demo/source" --out "Z:$demo/cdn" --key "$key" --build demo-1 2>/dev/null
publish launcher "Z:$root/Bin/launcher/Talvoreen Launcher.exe" --out "Z:$demo/cdn" --key "$key" --version 0.4.22
echo "== talvoreen-publish verify"
publish verify "Z:$demo/cdn" --public-key "Z:$root/keys/development.pub"

echo "== nginx on 127.0.0.1 (rate-limited so that the download can be interrupted)"
port=$(free_loopback_port)
start_loopback_nginx "$demo/nginx" "$port" 1 64 "$demo/nginx/access.log" "root $demo/cdn; limit_rate 8m;"
gta_url="http://127.0.0.1:$port/talvoreen-launcher/talvoreen-gtasa.rar"

install="Z:$demo/install"
echo "== --headless sync: a fresh install of build demo-1 from the local CDN"
launcher --headless sync --dir "$install" --cdn "http://127.0.0.1:$port"
echo "== --headless sync again: nothing to do"
launcher --headless sync --dir "$install" --cdn "http://127.0.0.1:$port" | tail -n 1
echo "== build demo-2 changes three files; the next sync fetches only those"
for f in $(find "$demo/source/scripts" -name '*.bin' | sort | head -n 3); do printf 'changed in demo-2\n' >>"$f"; done
publish game "Z:$demo/source" --out "Z:$demo/cdn" --key "$key" --build demo-2 2>/dev/null
launcher --headless sync --dir "$install" --cdn "http://127.0.0.1:$port" | tail -n 2

echo "== --headless where"
launcher --headless where || echo "(exit $?)"
echo "== --headless gta, interrupted after a few seconds"
timeout 4 "$root/cmake/wine-run.sh" "$build" "$root/Bin/launcher/Talvoreen Launcher.exe" \
  --headless gta --dir "$install" --gta-url "$gta_url" || echo "(interrupted)"
ls -l "$demo/install/.talvoreen/gta/" || true
echo "== --headless gta again: the download resumes"
launcher --headless gta --dir "$install" --gta-url "$gta_url"
echo "== archive requests nginx saw (the second carries a Range)"
grep talvoreen-gtasa "$demo/nginx/access.log" | awk '{ print $6, $7, $9, $10 }'

echo "== launcher-update: an installed copy that calls itself 0.0.0 takes the published launcher"
printf 'an older launcher\n' >"$demo/install/Talvoreen Launcher.exe"
launcher --headless launcher-update --dir "$install" --cdn "http://127.0.0.1:$port" --test-old-version
cmp -s "$demo/install/Talvoreen Launcher.exe" "$root/Bin/launcher/Talvoreen Launcher.exe" && echo "installed launcher replaced"
echo "== the updated copy started with --after-update (it waits for the old process, then runs a job)"
"$root/cmake/wine-run.sh" "$build" "$demo/install/Talvoreen Launcher.exe" --after-update 4242 --headless where || true
echo "== log of the install folder"
cat "$demo/install/TALVOREEN/logs/launcher.log"

echo "== --shots: every screen of the window, rendered off screen into build/demo/shots"
launcher --shots "Z:$demo/shots"
ls "$demo/shots"

echo "== the real window under Xvfb against the local CDN"
# A build of the launcher whose catalogue hosts are all 127.0.0.1, so that its player-count
# polling stays on this machine. The CDN now offers this version, so no self-update starts.
publish launcher "Z:$root/Bin/launcher/Talvoreen Launcher.exe" --out "Z:$demo/cdn" --key "$key" --version 0.4.21
"$root/cmake/wine-run.sh" "$build" "$build/tests/loopback/Talvoreen Launcher.exe" --dir "$install" \
  --cdn "http://127.0.0.1:$port" --gta-url "$gta_url" >/dev/null 2>&1 &
window_pid=$!
[ -n "${DISPLAY:-}" ] || export DISPLAY=":$(head -n 1 "$build/xvfb.display")"
log="$demo/install/TALVOREEN/logs/launcher.log"
for _ in $(seq 240); do grep -qE "status: (Sunucunu seç|Oynamaya hazır|.* dosyaları denetlenemedi)" "$log" && break; sleep 0.25; done
for _ in $(seq 120); do
  import -window root "$demo/window.png"
  [ "$(convert "$demo/window.png" -format '%[fx:mean>0.02]' info:)" = 1 ] && break
  sleep 0.25
done
grep "status: " "$log" | tail -n 3
echo "screenshot of the window: $demo/window.png"
window=$(xdotool search --onlyvisible --name '^Talvoreen Launcher$' | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 1076)) $((Y + 22)) click 1   # the window's close button
wait "$window_pid" || true
