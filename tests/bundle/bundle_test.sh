#!/usr/bin/env bash
# bundle_test.sh <build dir> <bundle zip>: builds the Windows test bundle, unpacks it in a fresh
# folder outside the tree whose path has spaces and Turkish letters, runs run-tests.cmd through
# cmd in a fresh Wine prefix with a display of its own, and checks the closing line against the
# build's CTest programs that run under Wine; then that a failing program fails the run.
set -euo pipefail
build="$(cd "$1" && pwd)"
zip="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# The Windows test programs as CTest knows them: the executables it runs through the Wine runner.
ctest_programs="$(ctest --test-dir "$build" --show-only=json-v1 | python3 -c '
import json, sys
tests = json.load(sys.stdin)["tests"]
print(" ".join(sorted(t["name"] for t in tests if len(t.get("command", [])) > 2 and t["command"][0].endswith("/wine-run.sh") and t["command"][2].endswith(".exe"))))')"

cmake --build "$build" --target test_bundle

work="$(mktemp -d "/tmp/Talvoreen Test Ğüşİöç.XXXXXX")"
wine_root="$(mktemp -d /tmp/talvoreen-bundle-wine.XXXXXX)"
cleanup() {
  WINEPREFIX="$wine_root/wineprefix" wineserver -k 2>/dev/null || true
  if [ -f "$wine_root/xvfb.pid" ]; then kill "$(cat "$wine_root/xvfb.pid")" 2>/dev/null || true; fi
  rm -rf "$wine_root"
  if [ "${keep:-}" = 1 ]; then echo "bundle run kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
keep=1
folder="$work/Oyun Testleri Ş"
mkdir -p "$folder"
(cd "$folder" && cmake -E tar xf "$zip")
bundle="$folder/$(basename "$zip" .zip)"

# Nothing in the bundle may name the build machine's tree: under Wine such a path would still
# work (drive Z: is the whole file system), on another PC it fails.
python3 - "$bundle" "$(cd "$here/../.." && pwd)" "$build" <<'PY' || exit 1
import os, sys
bundle, roots = sys.argv[1], sys.argv[2:]
needles = []
for root in roots:
    for text in (root, root.replace("/", "\\")):
        needles += [text.encode("utf-8"), text.encode("utf-16-le")]
for folder, _, names in os.walk(bundle):
    for name in names:
        data = open(os.path.join(folder, name), "rb").read()
        if any(n in data for n in needles):
            sys.exit("FAIL: %s names the build machine's tree" % os.path.join(folder, name))
PY

# The fresh prefix and display come from the same runner as the build's tests, with its
# root in a folder of its own rather than the build folder.
run_wine() { (unset DISPLAY && "$here/../../cmake/wine-run.sh" "$wine_root" "$@"); }
run_bundle() { (cd "$bundle" && run_wine cmd /c run-tests.cmd "$@"); }

code=0
output="$(run_bundle)" || code=$?
printf '%s\n' "$output" | tr -d '\r'
last="$(printf '%s\n' "$output" | tr -d '\r' | sed '/^$/d' | tail -n 1)"
fail() { echo "FAIL: $*"; exit 1; }
skips="$(printf '%s\n' "$output" | tr -d '\r' | sed -n 's/^skipped \([^:]*\):.*/\1/p')"
programs=0
for name in $ctest_programs; do
  printf '%s\n' "$skips" | grep -qx "$name" || programs=$((programs + 1))
done
skipped="$(printf '%s' "$skips" | grep -c . || true)"
[ "$programs" -gt 0 ] || fail "no Windows test programs in $build"
expected="$programs passed, 0 failed"
[ "$skipped" -gt 0 ] && expected="$expected, $skipped skipped"
[ "$last" = "$expected" ] || fail "closing line '$last', expected '$expected'"
[ "$code" = 0 ] || fail "run-tests.cmd exited with $code"
logs="$(find "$bundle/tests" -maxdepth 1 -name '*.log' | wc -l)"
[ "$logs" = "$programs" ] || fail "$logs logs beside the programs, expected $programs"

# A program that cannot start counts as failed and fails the run.
first="$(sed -n 's/^call :run \([^\r]*\).*/\1/p' "$bundle/run-tests.cmd" | head -n 1)"
printf 'not a program' >"$bundle/tests/$first.exe"
code=0
output="$(run_bundle "$first")" || code=$?
last="$(printf '%s\n' "$output" | tr -d '\r' | sed '/^$/d' | tail -n 1)"
[ "$last" = "0 passed, 1 failed" ] || fail "with a broken $first: closing line '$last'"
[ "$code" = 1 ] || fail "with a broken $first: exit code $code"
keep=0
echo "bundle: $programs programs passed from $bundle"
