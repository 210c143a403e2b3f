#!/usr/bin/env bash
# Sets up the machine, builds both configurations and runs every test:
#   host    - portable modules, natively, with address and undefined-behaviour sanitizers
#   windows - the product and its tests under Wine (own prefix and Xvfb in build/windows)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash tools/setup.sh

jobs="$(nproc)"
status=0

cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host -j "$jobs" || status=1

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
cleanup() {
  WINEPREFIX="$root/build/windows/wineprefix" wineserver -k 2>/dev/null || true
  if [ -f build/windows/xvfb.pid ]; then kill "$(cat build/windows/xvfb.pid)" 2>/dev/null || true; rm -f build/windows/xvfb.pid; fi
}
trap cleanup EXIT
ctest --preset windows -j "$jobs" --timeout 900 || status=1

exit "$status"
