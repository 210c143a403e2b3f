#!/usr/bin/env bash
# Synchronisation benchmarks under Wine, each beside its floor measured in the same run:
#   1. fresh sync of a generated build (default 200 MB in 1,000 files) from nginx on
#      127.0.0.1, against reading the same objects through `gunzip | sha256sum`;
#   2. no-op check of a synced tree of 10,000 files (state file trusted), against stat-ing
#      the same files;
#   3. peak memory (resident set) of the fresh sync.
#   bench/sync_bench.sh [megabytes] [files]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
megabytes="${1:-200}"
count="${2:-1000}"
build="$root/build/windows"
work="$root/build/bench-sync"
rm -rf "$work"; mkdir -p "$work/nginx"
cmake --build --preset windows --target talvoreen_launcher talvoreen_publish >/dev/null
publisher() { "$root/cmake/wine-run.sh" "$build" "$build/tools/publish/talvoreen-publish.exe" "$@" 2>/dev/null; }
launcher() { "$root/cmake/wine-run.sh" "$build" "$root/Bin/launcher/Talvoreen Launcher.exe" "$@"; }
seconds() { python3 -c 'import sys, time; print(time.time())'; }

python3 - "$work/source" "$megabytes" "$count" <<'PY'
import os, random, sys
root, megabytes, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
each = megabytes * 1024 * 1024 // count
for i in range(count):
    folder = os.path.join(root, "data%02d" % (i % 20))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.bin" % i), "wb") as f:
        f.write(rng.randbytes(each // 2) + bytes(each - each // 2))  # half compresses
PY
python3 - "$work/small" <<'PY'
import os, sys
for i in range(10000):
    folder = os.path.join(sys.argv[1], "d%03d" % (i % 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "s%05d.txt" % i), "w") as f:
        f.write("file %d\n" % i)
PY
key="Z:$root/keys/development.key"
publisher game "Z:$work/source" --out "Z:$work/cdn" --key "$key" --build bench-1 >/dev/null
publisher game "Z:$work/small" --out "Z:$work/cdn-small" --key "$key" --build small-1 >/dev/null

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 2;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  server { listen 127.0.0.1:$port; root $work; }
}
CONF
nginx -c "$work/nginx/nginx.conf"
stop_nginx() { if [ -f "$work/nginx/nginx.pid" ]; then kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true; fi; }
trap stop_nginx EXIT

# 1. Floor: every object through gunzip and sha256sum, one after the other.
start=$(seconds)
find "$work/cdn/game/objects" -name '*.gz' -print0 | xargs -0 -n 50 sh -c 'for f; do gunzip -c "$f" | sha256sum >/dev/null; done' sh
end=$(seconds)
bytes=$(du -sb "$work/source" | cut -f1)
awk -v b="$bytes" -v s="$start" -v e="$end" 'BEGIN { printf "floor gunzip|sha256sum  %7.1f MB/s (%.1f s)\n", b / (e - s) / 1e6, e - s }'

start=$(seconds)
/usr/bin/time -f '%M' -o "$work/peak-kb" "$root/cmake/wine-run.sh" "$build" "$root/Bin/launcher/Talvoreen Launcher.exe" \
  --headless sync --dir "Z:$work/install" --cdn "http://127.0.0.1:$port/cdn" | tail -n 1
end=$(seconds)
awk -v b="$bytes" -v s="$start" -v e="$end" 'BEGIN { printf "fresh sync              %7.1f MB/s (%.1f s, whole process under Wine)\n", b / (e - s) / 1e6, e - s }'
echo "peak resident memory of the sync: $(( $(cat "$work/peak-kb") / 1024 )) MiB"

# 2. No-op check of 10,000 files.
launcher --headless sync --dir "Z:$work/install-small" --cdn "http://127.0.0.1:$port/cdn-small" | tail -n 1
start=$(seconds)
python3 - "$work/install-small" <<'PY'
import os, sys
n = 0
for folder, _, files in os.walk(sys.argv[1]):
    for name in files:
        os.stat(os.path.join(folder, name)); n += 1
PY
end=$(seconds)
awk -v s="$start" -v e="$end" 'BEGIN { printf "floor stat of the tree   %.2f s\n", e - s }'
start=$(seconds)
launcher --headless check --dir "Z:$work/install-small" --cdn "http://127.0.0.1:$port/cdn-small" | tail -n 1
end=$(seconds)
awk -v s="$start" -v e="$end" 'BEGIN { printf "no-op check             %.2f s (whole process under Wine)\n", e - s }'
stop_nginx
rm -rf "$work"
