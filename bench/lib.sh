# Helpers the benchmark scripts share; sourced after $work is set.

now() { date +%s.%N; }
# elapsed <command...>: runs it (output to $work/last.out) and prints the seconds it took; the
# processor seconds (user + system) of it and its children go to $work/last.cpu.
# Called as $(elapsed ...), so that `times` counts the children of this one command.
elapsed() {
  local start end
  start=$(now)
  "$@" >"$work/last.out" 2>&1
  end=$(now)
  times >"$work/last.times"  # not in a pipe: that would be another process, without these children
  awk 'NR == 2 { split($1, u, /[ms]/); split($2, k, /[ms]/); printf "%.2f", u[1] * 60 + u[2] + k[1] * 60 + k[2] }' \
    "$work/last.times" >"$work/last.cpu"
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}
# await_exe <pid>: waits (30 s at most) until the wine-run.sh started in the background with this
# pid has become the Windows program itself, so that /proc/<pid> speaks of the program.
await_exe() {
  local first
  for _ in $(seq 3000); do
    first=$(tr '\0' '\n' <"/proc/$1/cmdline" 2>/dev/null | head -n 1 || true)
    [[ "$first" == *.exe ]] && return 0
    sleep 0.01
  done
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
rate() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f", b / s / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# make_tree <folder> <MiB> <count> [equal]: generated files, half random and half zeros so that
# the objects compress by half, 20 folders; sizes vary from 1 to 10 parts so that some files are
# large, or are all equal with "equal".
make_tree() {
  python3 - "$@" <<'PY'
import os, sys
root, mib, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
weights = [1] * count if len(sys.argv) > 4 and sys.argv[4] == "equal" else [i % 10 + 1 for i in range(count)]
unit = mib * 1048576 // sum(weights)
for i, w in enumerate(weights):
    folder = os.path.join(root, "data%02d" % (i % 20))
    os.makedirs(folder, exist_ok=True)
    size = unit * w
    with open(os.path.join(folder, "f%05d.bin" % i), "wb") as f:
        f.write(os.urandom(size // 2) + bytes(size - size // 2))
PY
}
