#!/usr/bin/env bash
# Peak memory of parsing each untrusted document shape, each in a fresh process under Wine:
#   bench/parse_memory_bench.sh [build folder, default build/windows] [tree]
# "tree" also runs json-c's tree parser over the shapes it survives, for comparison.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/windows}"
exe="$build/bench/parse_memory_bench.exe"
[ -f "$exe" ] || { echo "build the windows preset first ($exe missing)"; exit 1; }
for shape in list-200000 list-200000-long-paths list-empty-objects list-deep list-long-string list-small-numbers \
             list-files-before-name envelope-32mib envelope-empty-objects envelope-deep envelope-small-numbers; do
  "$root/cmake/wine-run.sh" "$build" "$exe" "$shape" 2>/dev/null | tr -d '\r'
done
if [ "${2:-}" = tree ]; then
  for shape in list-200000 envelope-32mib; do
    "$root/cmake/wine-run.sh" "$build" "$exe" "$shape" tree 2>/dev/null | tr -d '\r'
  done
fi
