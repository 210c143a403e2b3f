#!/usr/bin/env bash
# windows7_imports.sh <objdump> <allow-list> <exe>...: fails when an executable imports a function
# or a DLL that Windows 7 SP1 lacks. Windows refuses to start a program with such a static
# import, so newer calls are looked up at run time (GetProcAddress) instead. The allow-list
# beside this script names every DLL!function the launcher may import; each was checked against
# the documented minimum client (Windows 7 or earlier) when it was added.
set -euo pipefail
objdump="$1" allowed="$2"; shift 2
status=0
for exe in "$@"; do
  imports="$("$objdump" -p "$exe" | awk '
    /^[ \t]*DLL Name:/ { dll = tolower($3); next }
    /^[ \t]*vma:/ { next }
    dll != "" && /^[ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+[^ \t]+$/ { print dll "!" $3; next }
    dll != "" && /^[ \t]*$/ { dll = "" }' | sort -u)"
  [ -n "$imports" ] || { echo "FAIL: no imports read from $exe"; status=1; continue; }
  unknown="$(comm -23 <(printf '%s\n' "$imports") <(grep -v '^#' "$allowed" | sed '/^$/d' | sort -u) || true)"
  if [ -n "$unknown" ]; then
    echo "FAIL: $(basename "$exe") imports what Windows 7 SP1 may lack (look it up at run time, or add it to"
    echo "$(basename "$allowed") once its documented minimum client is Windows 7 or earlier):"
    printf '  %s\n' $unknown
    status=1
  else
    echo "ok: $(basename "$exe"), $(printf '%s\n' "$imports" | wc -l) imports"
  fi
done
exit $status
