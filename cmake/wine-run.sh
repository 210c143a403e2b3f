#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest and the tools: wine-run.sh <build dir> <exe> [args...]
# The build folder has its own Wine prefix (made on first use) so tests never touch the
# user's prefix, and its own Xvfb when no display is set (TALVOREEN_SCREEN, default 1280x1024).
# tools/test.sh stops both afterwards.
set -euo pipefail
build="$(cd "$1" && pwd)"; shift

export WINEPREFIX="$build/wineprefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko prompts, and no menu entries on the host for shortcuts the tests create.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win32

start_xvfb() {
  if [ -f "$build/xvfb.pid" ] && kill -0 "$(cat "$build/xvfb.pid")" 2>/dev/null; then return; fi
  : >"$build/xvfb.display"
  Xvfb -displayfd 1 -nolisten tcp -screen 0 "${TALVOREEN_SCREEN:-1280x1024}x24" >"$build/xvfb.display" 2>/dev/null 9>&- &
  echo $! >"$build/xvfb.pid"
  for _ in $(seq 200); do [ -s "$build/xvfb.display" ] && break; sleep 0.05; done
}

# Processes started below must not inherit the lock descriptor (they would hold the lock
# for good) nor our standard output (CTest waits until every holder of its pipe is gone).
(
  flock 9
  [ -n "${DISPLAY:-}" ] || start_xvfb
  [ -n "${DISPLAY:-}" ] || export DISPLAY=":$(head -n 1 "$build/xvfb.display")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 9>&- || true
    wineserver -w 9>&-
  fi
  # The prefix's Desktop, Documents ... point into the host's home folder; tests write
  # shortcuts there, so they become plain folders of the prefix.
  if [ ! -f "$WINEPREFIX/.sandboxed" ]; then
    for link in "$WINEPREFIX"/drive_c/users/*/* "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/*; do
      if [ -L "$link" ]; then rm "$link" && mkdir -p "$link"; fi
    done
    touch "$WINEPREFIX/.sandboxed"
  fi
  # Drive T: is a folder of its own, for tests that need an installation at a drive root.
  if [ ! -e "$WINEPREFIX/dosdevices/t:" ]; then
    mkdir -p "$WINEPREFIX/drive_c/test-drive-t"
    ln -s ../drive_c/test-drive-t "$WINEPREFIX/dosdevices/t:"
  fi
  # One server per prefix that outlives each test by 30 s keeps process starts short. When it is
  # new, the prefix's services are started here rather than by the first test.
  if wineserver -p30 >/dev/null 2>&1 9>&-; then
    wine cmd /c exit >/dev/null 2>&1 9>&- || true
  fi
) 9>"$build/wine-run.lock"

if [ -z "${DISPLAY:-}" ] && [ -s "$build/xvfb.display" ]; then
  export DISPLAY=":$(head -n 1 "$build/xvfb.display")"
fi
exec wine "$@"
