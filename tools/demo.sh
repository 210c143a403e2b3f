#!/usr/bin/env bash
# Sets up the machine, builds the launcher and runs its headless jobs under Wine against
# a fresh install folder in build/demo.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash tools/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target talvoreen_launcher talvoreen_publish

build="$root/build/windows"
run() { "$root/cmake/wine-run.sh" "$build" "$root/Bin/launcher/Talvoreen Launcher.exe" "$@"; }
cleanup() {
  WINEPREFIX="$build/wineprefix" wineserver -k 2>/dev/null || true
  if [ -f "$build/xvfb.pid" ]; then kill "$(cat "$build/xvfb.pid")" 2>/dev/null || true; rm -f "$build/xvfb.pid"; fi
}
trap cleanup EXIT

demo="$root/build/demo"
rm -rf "$demo"; mkdir -p "$demo"
echo "== --headless where"
run --headless where || echo "(exit $?)"
echo "== --headless sync (no --dir)"
run --headless sync || echo "(exit $?)"
echo "== log of the install folder"
run --headless version-check --dir "Z:$demo/install" || true
cat "$demo/install/TALVOREEN/logs/launcher.log"

# The publishing side: a tiny game build signed with the development key, then checked.
publish() { "$root/cmake/wine-run.sh" "$build" "$build/tools/publish/talvoreen-publish.exe" "$@"; }
mkdir -p "$demo/source/data"
printf 'Talvoreen demo\n' >"$demo/source/data/readme.txt"
echo "== talvoreen-publish game"
publish game "Z:$demo/source" --out "Z:$demo/cdn" --key "Z:$root/keys/development.key" --build demo-1
echo "== talvoreen-publish verify"
publish verify "Z:$demo/cdn" --public-key "Z:$root/keys/development.pub"
