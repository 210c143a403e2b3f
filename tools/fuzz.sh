#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour sanitizers) and runs
# each for a bounded time:  tools/fuzz.sh [seconds per target, default 60] [target...]
# Each run is capped at 256 MiB resident and 64 MiB per allocation, so a parser whose memory
# grows out of proportion to its input counts as a crash like any other.
# Corpora grow in build/fuzz/corpus/<target>, seeded from tests/fuzz/corpus/<target>; a crash
# leaves its input in build/fuzz/artifacts/ and makes the script exit non-zero. Copy an
# input worth keeping into tests/fuzz/corpus/<target> so the host tests replay it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

seconds="${1:-60}"
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(fuzz_envelope fuzz_game_manifest fuzz_launcher_manifest fuzz_state fuzz_client_files fuzz_player_count fuzz_chunk_list)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2 --target "${targets[@]}"

out="$root/build/fuzz"
mkdir -p "$out/artifacts"
status=0
for target in "${targets[@]}"; do
  corpus="$out/corpus/$target"
  mkdir -p "$corpus"
  echo "== $target for ${seconds}s"
  result=0
  # AddressSanitizer's quarantine of freed blocks (256 MiB by default) would count against
  # the limit; a small one keeps the limit about the parser's own memory.
  ASAN_OPTIONS=quarantine_size_mb=16:malloc_context_size=10 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$out/tests/fuzz/$target" "$corpus" "tests/fuzz/corpus/$target" \
    -dict=tests/fuzz/json.dict -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=256 -malloc_limit_mb=64 \
    -artifact_prefix="$out/artifacts/$target-" -print_final_stats=1 2>"$out/$target.log" || result=1
  grep -E "^(stat::number_of_executed_units|stat::new_units_added|SUMMARY|==[0-9]+==ERROR)" "$out/$target.log" || true
  if [ "$result" != 0 ]; then
    status=1
    echo "$target failed; see $out/$target.log"
    tail -n 40 "$out/$target.log"
  fi
done
exit "$status"
