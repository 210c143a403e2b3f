#!/usr/bin/env bash
# small_screen.sh <exe> [args...]: runs a Windows test program once more on a 1024x768 screen, in
# a Wine prefix and Xvfb of its own (a running Wine desktop keeps the screen it started with),
# both ended afterwards. The window must then open smaller, whole and inside the work area.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(mktemp -d /tmp/talvoreen-small-screen.XXXXXX)"
cleanup() {
  WINEPREFIX="$root/wineprefix" wineserver -k 2>/dev/null || true
  if [ -f "$root/xvfb.pid" ]; then kill "$(cat "$root/xvfb.pid")" 2>/dev/null || true; fi
  rm -rf "$root"
}
trap cleanup EXIT
env -u DISPLAY TALVOREEN_SCREEN=1024x768 "$here/../../cmake/wine-run.sh" "$root" "$@"
