#!/usr/bin/env bash
# bundle_test.sh <build dir> <bundle zip>: builds the Windows test bundle, unpacks it in a fresh
# folder outside the tree whose path has spaces and Turkish letters, runs run-tests.cmd through
# cmd in a fresh Wine prefix with a display of its own, and checks the closing line against the
# build's CTest programs that run under Wine; then that a failing program and one past its
# deadline fail the run. As on a hosted Windows runner or a player's PC, the bundle runs from
# drive D: (the prefix has no drive Z: that would reach the whole file system) with TEMP given
# as an 8.3 path.
set -euo pipefail
build="$(cd "$1" && pwd)"
zip="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# The Windows test programs as CTest knows them: the executables it runs through the Wine runner.
ctest_programs="$(ctest --test-dir "$build" --show-only=json-v1 | python3 -c '
import json, os, sys
tests = json.load(sys.stdin)["tests"]
# A program that CTest also runs a second time (a filter, another environment) is one program.
print(" ".join(sorted({os.path.basename(t["command"][2])[:-4] for t in tests if len(t.get("command", [])) > 2 and t["command"][0].endswith("/wine-run.sh") and t["command"][2].endswith(".exe")})))')"

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
# root in a folder of its own rather than the build folder, on a 1024 x 768 screen as a small
# laptop's or a runner's, where the window does not fit at 100 % with its frame.
run_wine() { (unset DISPLAY && TALVOREEN_SCREEN=1024x768 "$here/../../cmake/wine-run.sh" "$wine_root" "$@"); }
run_wine cmd /c exit
dosdevices="$wine_root/wineprefix/dosdevices"
# A Windows PC has its fonts in C:\Windows\Fonts, listed in the registry; Wine's DirectWrite
# reaches the host's only through drive Z:, which goes next (without any font it finds no family
# and lays out nothing).
fonts_reg="$wine_root/wineprefix/drive_c/fonts.reg"
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts]\r\n' >"$fonts_reg"
for font in /usr/share/fonts/truetype/dejavu/DejaVuSans*.ttf; do
  cp "$font" "$wine_root/wineprefix/drive_c/windows/Fonts/"
  name="$(basename "$font" .ttf)"
  printf '"%s (TrueType)"="%s.ttf"\r\n' "$name" "$name" >>"$fonts_reg"
done
run_wine regedit /s 'C:\fonts.reg'
rm -f "$dosdevices/z:"
ln -s "$work" "$dosdevices/d:"
# TEMP as Windows gives it for a user name with spaces or other letters: a short 8.3 path, which
# tests and the launcher must take long before they compare it with a known folder.
cat >"$work/short-temp.cmd" <<'CMD'
@echo off
set "long=%TEMP%\Gecici Dosyalar Uzun Ad"
if not exist "%long%" mkdir "%long%"
"%CD%\tests\short_path.exe" "%long%" "%~dp0set-temp.cmd"
call "%~dp0set-temp.cmd"
echo TEMP=%TEMP%
call "%CD%\run-tests.cmd" %*
CMD
# Started in the bundle's folder, which Wine names D:\Oyun Testleri Ş\windows-test-bundle.
run_bundle() { (cd "$bundle" && run_wine cmd /c 'D:\short-temp.cmd' "$@"); }

code=0
output="$(run_bundle)" || code=$?
printf '%s\n' "$output" | tr -d '\r'
last="$(printf '%s\n' "$output" | tr -d '\r' | sed '/^$/d' | tail -n 1)"
fail() { echo "FAIL: $*"; exit 1; }
printf '%s\n' "$output" | tr -d '\r' | grep -q '^TEMP=.*~' || fail "TEMP is not an 8.3 path"
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

# A program past its deadline is ended, fails the run and its log says why.
second="$(sed -n 's/^call :run \([^\r]*\).*/\1/p' "$bundle/run-tests.cmd" | sed -n 2p)"
code=0
output="$(TALVOREEN_TEST_DEADLINE=0 run_bundle "$second")" || code=$?
printf '%s\n' "$output" | tr -d '\r' | grep -q "FAILED $second (past its deadline of 0 s)" ||
  fail "a program past its deadline: $output"
grep -q "run-tests: past its deadline of 0 s" "$bundle/tests/$second.log" || fail "no deadline line in $second.log"
[ "$code" = 1 ] || fail "with $second past its deadline: exit code $code"
keep=0
echo "bundle: $programs programs passed from $bundle"
