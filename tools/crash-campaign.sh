#!/usr/bin/env bash
# Crash campaign: kills the launcher with SIGKILL at a random moment of an operation, runs
# the same operation again and checks the result against the truth.
#
#   tools/crash-campaign.sh [--build DIR] [--exe PATH] [--publisher PATH] [--work DIR] ROUNDS SEED [OPERATION...]
#
# ROUNDS kills per operation; SEED makes the kill moments reproducible (each is printed).
# Rounds of gta take turns: a fresh installation or a reinstall over a damaged copy, killed
# at a drawn moment or at one of its steps (unpacking begun, key files unpacked with data
# still to come, copy unpacked whole but not yet completed); the next start is a plain "gta".
# Operations (all by default): sync-fresh, sync-update, sync-verify, server-files, gta,
# self-update, uninstall. Everything runs under Wine in a prefix of its own inside the work
# folder (default <build>/crash-campaign; the prefix is kept between runs) against nginx on
# 127.0.0.1. A round that does not recover leaves its folder in <work>/runs.
#
# The launcher under Wine is a Linux process of the Wine loader: the process started for the
# .exe becomes that program once the loader has mapped it (its command line then begins with
# the .exe path). The campaign waits for that, sleeps the drawn delay and sends SIGKILL to
# that very process: as abrupt as a power cut for the program, no handler runs, and
# wineserver releases its handles as Windows would.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/tools/lib/loopback_nginx.sh"
build="$root/build/windows"
exe="$root/Bin/launcher/Talvoreen Launcher.exe"
publisher=""
work=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --exe) exe="$2"; shift 2 ;;
    --publisher) publisher="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || { sed -n '2,11p' "$0" >&2; exit 2; }
rounds="$1"; seed="$2"; shift 2
operations=("$@")
[ ${#operations[@]} -gt 0 ] || operations=(sync-fresh sync-update sync-verify server-files gta self-update uninstall)
build="$(cd "$build" && pwd)"
publisher="${publisher:-$build/tools/publish/talvoreen-publish.exe}"
work="${work:-$build/crash-campaign}"
mkdir -p "$work"
work="$(cd "$work" && pwd)"
RANDOM="$seed"

wine_run() { "$root/cmake/wine-run.sh" "$work" "$@"; }
cleanup() {
  set +e
  [ -f "$work/nginx/nginx.pid" ] && kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null
  WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null
  [ -f "$work/xvfb.pid" ] && kill "$(cat "$work/xvfb.pid")" 2>/dev/null && rm -f "$work/xvfb.pid"
}
trap cleanup EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }
winpath() { echo "Z:${1//\//\\}"; }

echo "== crash campaign: $rounds kills per operation, seed $seed"
mkdir -p "$work"
find "$work" -mindepth 1 -maxdepth 1 ! -name wineprefix ! -name 'xvfb.*' ! -name wine-run.lock -exec rm -rf {} +
mkdir -p "$work/bin" "$work/cdn1/gta" "$work/cdn1/server/files" "$work/nginx" "$work/runs"
# The campaign's own copy: the build may change while it runs.
cp "$exe" "$work/bin/Talvoreen Launcher.exe"
subject="$work/bin/Talvoreen Launcher.exe"
wine_run cmd /c exit >/dev/null 2>&1 || true
if [ -z "${DISPLAY:-}" ] && [ -s "$work/xvfb.display" ]; then export DISPLAY=":$(head -n 1 "$work/xvfb.display")"; fi

# ---- The truth: generated sources, published with talvoreen-publish -----------------------
python3 - "$work" "$seed" <<'PY'
import os, random, sys
work, seed = sys.argv[1], int(sys.argv[2])
rng = random.Random(seed)
def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
def blob(size):
    return rng.randbytes(size // 2) + bytes(size - size // 2)
game = os.path.join(work, "game1")
for i in range(160):
    folder = ["models", "audio/sfx", "data/maps", "scripts", "textures/hi"][i % 5]
    put(os.path.join(game, folder, "file%03d.bin" % i), blob(rng.choice([0, 700, 9000, 60000, 250000, 900000])))
put(os.path.join(game, "Talvoreen.exe"), b"MZ stand-in game client\n")
# Large files: one fetched in chunks (a list is written below when the publisher wrote none),
# one whose object passes 16 MiB and has no list (fetched whole, resumed with Range).
put(os.path.join(game, "models", "big.img"), rng.randbytes(8 << 20) + bytes(4 << 20))
put(os.path.join(game, "models", "huge.img"), rng.randbytes(18 << 20))
# Build 2: changed, added and removed files.
game2 = os.path.join(work, "game2")
os.system("cp -a '%s' '%s'" % (game, game2))
for i in range(0, 160, 9):
    path = os.path.join(game2, ["models", "audio/sfx", "data/maps", "scripts", "textures/hi"][i % 5], "file%03d.bin" % i)
    if i % 2:
        os.remove(path)
    else:
        put(path, blob(rng.choice([100, 50000, 400000])))
for i in range(12):
    put(os.path.join(game2, "added", "new%02d.bin" % i), blob(rng.choice([10, 30000, 300000])))
big = bytearray(open(os.path.join(game2, "models", "big.img"), "rb").read())
for at in (1 << 20, 5 << 20, 9 << 20):
    big[at:at + 4096] = rng.randbytes(4096)
put(os.path.join(game2, "models", "big.img"), bytes(big))
res = os.path.join(work, "resources")
for r in ["chat", "maps", "vehicles"]:
    for i in range(20):
        put(os.path.join(res, r, "files" if i % 2 else "client", "f%02d.dat" % i), blob(rng.choice([0, 500, 20000, 200000])))
gta = os.path.join(work, "gta-tree")
put(os.path.join(gta, "GTA-SA", "gta_sa.exe"), b"stand-in game executable\n")
put(os.path.join(gta, "GTA-SA", "models", "gta3.img"), blob(12_000_000))
for i in range(30):
    put(os.path.join(gta, "GTA-SA", "data", "d%02d.dat" % i), blob(rng.choice([100, 40000, 200000])))
# Unpacked after the key files: room for a kill while they are there and the rest is not.
for i in range(16):
    put(os.path.join(gta, "GTA-SA", "data", "late", "l%02d.dat" % i), blob(1_000_000))
PY
port=$(free_loopback_port)
publish() { wine_run "$publisher" "$@" >/dev/null 2>&1; }
key="$(winpath "$root/keys/development.key")"
publish game "$(winpath "$work/game1")" --out "$(winpath "$work/cdn1")" --key "$key" --build crash-1
cp -a "$work/cdn1" "$work/cdn2"
publish game "$(winpath "$work/game2")" --out "$(winpath "$work/cdn2")" --key "$key" --build crash-2
# Chunk lists and chunk objects for the files of 4 MiB and more but huge.img, by the rule of
# docs/chunking.md written again here, where the publisher wrote none.
python3 - "$work" <<'PY'
import gzip, hashlib, json, os, sys
work, M = sys.argv[1], (1 << 64) - 1
gear, state = [], 0x54414C564F524545
for _ in range(256):
    state = (state + 0x9E3779B97F4A7C15) & M
    z = state
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & M
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & M
    gear.append(z ^ (z >> 31))
def cuts(data):
    start, out = 0, []
    while start < len(data):
        h, end = 0, min(len(data), start + 4194304)
        for at in range(start + 262144, end):
            h = ((h << 1) + gear[data[at]]) & M
            if h >> (42 if at - start + 1 <= 1048576 else 46) == 0:
                end = at + 1
                break
        out.append((start, end - start))
        start = end
    return out
def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f: f.write(data)
for tree, cdn in (("game1", "cdn1"), ("game2", "cdn2")):
    path = os.path.join(work, tree, "models", "big.img")
    data = open(path, "rb").read()
    sha = hashlib.sha256(data).hexdigest()
    listed = os.path.join(work, cdn, "game", "chunks", sha[:2], sha + ".json")
    if os.path.exists(listed): continue
    chunks = []
    for offset, size in cuts(data):
        piece = data[offset:offset + size]
        h = hashlib.sha256(piece).hexdigest()
        put(os.path.join(work, cdn, "game", "objects", h[:2], h + ".gz"), gzip.compress(piece))
        chunks.append({"offset": offset, "size": size, "sha256": h})
    put(listed, json.dumps({"format": "talvoreen-chunks-v1", "size": len(data), "sha256": sha,
        "chunker": {"name": "fastcdc", "min": 262144, "avg": 1048576, "max": 4194304}, "chunks": chunks},
        separators=(",", ":")).encode())
PY
publish launcher "$(winpath "$subject")" --out "$(winpath "$work/cdn1")" --key "$key" --version 0.4.22
publish client-files "$(winpath "$work/resources")" --out "$(winpath "$work/cdn1/server/client-files.json")" \
  --download-url "http://127.0.0.1:$port/cdn1/server/files"
cp -a "$work/resources/." "$work/cdn1/server/files/"
(cd "$work/gta-tree" && rar a -m0 -idq "$work/cdn1/gta/talvoreen-gtasa.rar" GTA-SA/gta_sa.exe GTA-SA/models GTA-SA/data)
[ "$(unrar lb "$work/cdn1/gta/talvoreen-gtasa.rar" | head -n 2 | tr '\n' ' ')" = "GTA-SA/gta_sa.exe GTA-SA/models/gta3.img " ] \
  || { echo "the GTA archive does not begin with the key files" >&2; exit 1; }

start_loopback_nginx "$work/nginx" "$port" 1 256 off "root $work; limit_rate 3m; location /cdn1/gta/ { limit_rate 10m; }"
url() { echo "http://127.0.0.1:$port/$1"; }

# ---- Checks against the truth ---------------------------------------------------------------
cat >"$work/check.py" <<'PY'
import hashlib, json, os, sys
def files(root, skip=()):
    out = {}
    for base, dirs, names in os.walk(root):
        rel = os.path.relpath(base, root)
        if rel == "." :
            dirs[:] = [d for d in dirs if d not in skip]
            names = [n for n in names if n not in skip]
        for n in names:
            p = os.path.join(base, n)
            out[os.path.normpath(os.path.relpath(p, root))] = p
    return out
def digest(path, kind):
    h = hashlib.new(kind)
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()
def same(a, b):
    with open(a, "rb") as x, open(b, "rb") as y:
        return x.read() == y.read()
problems = []
cmd = sys.argv[1]
if cmd == "tree":  # tree SOURCE INSTALLED [SKIP...]: same files, byte for byte
    src, dst = files(sys.argv[2]), files(sys.argv[3], set(sys.argv[4:]))
    for rel in sorted(set(src) | set(dst)):
        if rel not in dst: problems.append("missing " + rel)
        elif rel not in src: problems.append("not in the build " + rel)
        elif not same(src[rel], dst[rel]): problems.append("differs " + rel)
elif cmd == "scratch":  # scratch FOLDER: nothing a killed run may leave
    for base, dirs, names in os.walk(sys.argv[2]):
        for n in names + dirs:
            low = n.lower()
            if low.endswith((".part", ".tmp", ".new", ".old", ".validator", ".failed")) or \
               low.startswith("download") and os.path.basename(base) == ".talvoreen" or \
               low in ("talvoreen-gtasa.rar", "gta-sa.unfinished"):
                problems.append("left behind " + os.path.relpath(os.path.join(base, n), sys.argv[2]))
elif cmd == "unfinished":  # unfinished REFERENCE GAME MARKER: a partial copy never passes for installed
    # Partial: a file of the reference missing or of another size (a damaged copy is whole).
    game, marker = sys.argv[3], sys.argv[4]
    valid = os.path.isfile(os.path.join(game, "gta_sa.exe")) and os.path.isfile(os.path.join(game, "models", "gta3.img"))
    src, dst = files(sys.argv[2]), files(game) if os.path.isdir(game) else {}
    whole = all(r in dst and os.path.getsize(dst[r]) == os.path.getsize(src[r]) for r in src)
    if valid and not whole and not os.path.exists(marker):
        problems.append("a partial GTA-SA with the key files and no marker")
elif cmd == "state":  # state STATE_FILE ROOT BUILD: nothing trusted that differs from disk
    state = json.load(open(sys.argv[2], encoding="utf-8"))
    if not state.get("complete"): problems.append("state not complete")
    if sys.argv[4] != "-" and state.get("build") != sys.argv[4]: problems.append("state build %s" % state.get("build"))
    for f in state["files"]:
        if f.get("keep") or f.get("unavailable"): continue
        p = os.path.join(sys.argv[3], f["path"])
        if not os.path.isfile(p): problems.append("state lists a missing file " + f["path"]); continue
        st = os.stat(p)
        filetime = st.st_mtime_ns // 100 + 116444736000000000
        if st.st_size != f["size"] or filetime != f["mtime"]:
            problems.append("state size/time differ from disk " + f["path"]); continue
        if digest(p, "md5" if len(f["hash"]) == 32 else "sha256") != f["hash"]:
            problems.append("state trusts a file whose content differs " + f["path"])
for p in problems[:10]: print(p)
sys.exit(1 if problems else 0)
PY
check() { python3 "$work/check.py" "$@"; }

# Waits until a step of the GTA installation is reached or the process has ended, polling
# every millisecond: when.py STEP INSTALL PID.
cat >"$work/when.py" <<'PY'
import os, sys, time
step, install, pid = sys.argv[1], sys.argv[2], sys.argv[3]
marker = os.path.join(install, ".talvoreen", "gta", "GTA-SA.unfinished")
game = os.path.join(install, "GTA-SA")
def marker_text():
    try:
        with open(marker, "rb") as f: return f.read()
    except OSError: return None
def reached():
    if step == "marker": return marker_text() is not None
    if step == "key-files":
        try: img = os.path.getsize(os.path.join(game, "models", "gta3.img"))
        except OSError: return False
        return marker_text() is not None and img == 12_000_000 and os.path.isfile(os.path.join(game, "gta_sa.exe")) \
            and not os.path.exists(os.path.join(game, "data", "late", "l15.dat"))
    if step == "whole": return marker_text() == b"unpacked whole\n"
    raise SystemExit("unknown step " + step)
deadline = time.monotonic() + 300
while time.monotonic() < deadline and os.path.exists("/proc/" + pid) and not reached():
    time.sleep(0.001)
PY
# What a killed GTA run left, for the round's line.
gta_leftovers() {
  local w="$install/.talvoreen/gta" out=""
  [ -f "$w/GTA-SA.unfinished" ] && out="marker $(tr -d '\n' <"$w/GTA-SA.unfinished")" || out="no marker"
  [ -f "$w/talvoreen-gtasa.rar" ] && out="$out, archive"
  [ -d "$w/GTA-SA.old" ] && out="$out, old copy"
  [ -f "$install/GTA-SA/models/gta3.img" ] && out="$out, gta3.img $(stat -c %s "$install/GTA-SA/models/gta3.img")"
  echo "$out"
}
gta_job=gta
gta_steps=(marker key-files whole)
# Round n of gta: odd rounds reinstall; each third round kills at a drawn moment, the others
# at the steps in turn.
gta_round() {
  local n="$1"
  gta_job=gta; [ $((n % 2)) -eq 1 ] && gta_job=gta-repair
  gta_kill=""; [ $((n % 3)) -eq 0 ] || gta_kill="when:${gta_steps[$(( (n - n / 3 - 1) % 3 ))]}"
  return 0
}

# ---- Operations: set up, run (killed or not), judge -----------------------------------------
install="$work/install"
snapshot() {  # a finished installation of build 1 (and 2), made once and copied per round
  [ -d "$work/snap-$1" ] && return
  rm -rf "$install"
  case "$1" in
    1) wine_run "$subject" --headless sync --dir "$(winpath "$install")" --cdn "$(url cdn1)" >/dev/null ;;
    2) cp -a "$work/snap-1" "$install"
       wine_run "$subject" --headless sync --dir "$(winpath "$install")" --cdn "$(url cdn2)" >/dev/null ;;
  esac
  mv "$install" "$work/snap-$1"
}

setup() {
  rm -rf "$install"
  case "$1" in
    sync-fresh|server-files) mkdir -p "$install" ;;
    gta)
      mkdir -p "$install"
      if [ "$gta_job" = gta-repair ]; then  # a copy the player repairs: one file damaged
        cp -a "$work/gta-tree/GTA-SA" "$install/GTA-SA"
        printf 'DAMAGED' | dd of="$install/GTA-SA/data/d00.dat" bs=1 seek=0 conv=notrunc status=none
      fi ;;
    sync-update) snapshot 1; cp -a "$work/snap-1" "$install" ;;
    sync-verify)
      snapshot 2; cp -a "$work/snap-2" "$install"
      # Same size, same time, other content: only a verification finds these.
      for f in $(cd "$install" && find models scripts -type f -size +1k | sort | head -n 4); do
        cp -p "$install/$f" "$work/keep-time"
        printf 'CRASH' | dd of="$install/$f" bs=1 seek=7 conv=notrunc status=none
        touch -r "$work/keep-time" "$install/$f"
      done ;;
    self-update)
      mkdir -p "$install"
      printf 'an older launcher\n' >"$install/Talvoreen Launcher.exe" ;;
    uninstall)
      snapshot 1; cp -a "$work/snap-1" "$install"
      cp -a "$work/gta-tree/GTA-SA" "$install/GTA-SA"
      cp "$subject" "$install/Talvoreen Launcher.exe"
      printf 'ok' >"$install/.talvoreen-write-test"
      local dir launcher
      dir="$(winpath "$install")"; launcher="${dir//\\/\\\\}\\\\Talvoreen Launcher.exe"
      cat >"$work/registration.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Talvoreen\\Launcher]
"InstallDir"="${dir//\\/\\\\}"

[HKEY_CURRENT_USER\\Software\\Talvoreen\\Common]
"GtaSaFolder"="${dir//\\/\\\\}\\\\GTA-SA"

[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TalvoreenMultiplayer]
"UninstallString"="\\"$launcher\\" --uninstall"

[HKEY_CURRENT_USER\\Software\\Classes\\talvoreen\\shell\\open\\command]
@="\\"$launcher\\" --link \\"%1\\""
REG
      wine_run regedit /S "$(winpath "$work/registration.reg")" >/dev/null 2>&1 ;;
  esac
}

arguments() {
  local dir; dir="$(winpath "$install")"
  case "$1" in
    sync-fresh) echo --headless sync --dir "$dir" --cdn "$(url cdn1)" ;;
    sync-update) echo --headless sync --dir "$dir" --cdn "$(url cdn2)" ;;
    sync-verify) echo --headless verify --dir "$dir" --cdn "$(url cdn2)" ;;
    server-files) echo --headless server-corvel --dir "$dir" --server-list "$(url cdn1/server/client-files.json)" ;;
    gta) echo --headless "$gta_job" --dir "$dir" --gta-url "$(url cdn1/gta/talvoreen-gtasa.rar)" ;;
    self-update) echo --headless launcher-update --dir "$dir" --cdn "$(url cdn1)" --test-old-version ;;
    uninstall) echo --uninstall-run "$dir" ;;
  esac
}

# The second uninstall stage ends with a message box; it is answered like a player would.
answer_boxes() {
  local pid="$1"
  for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || return 0
    for w in $(xdotool search --name '^Talvoreen Multiplayer$' 2>/dev/null); do
      xdotool windowfocus "$w" 2>/dev/null || true
      xdotool key --window "$w" Return 2>/dev/null || true
    done
    sleep 0.1
  done
}

# The first stage's confirmation has two buttons, "Kaldır" first and the default Cancel: Tab
# reaches "Kaldır" from Cancel and from no focus alike. Pressed once only: a second Tab on a
# dialog that is still closing would land on Cancel.
confirm_uninstall() {
  local pid="$1"
  for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || return 0
    for w in $(xdotool search --name '^Talvoreen Multiplayer$' 2>/dev/null); do
      xdotool windowfocus --sync "$w" 2>/dev/null && xdotool key Tab space 2>/dev/null && return 0
    done
    sleep 0.1
  done
}

# The second stage that a first stage handed over to: the copy in the prefix's temporary folder.
second_stage_pid() {
  local pid
  for _ in $(seq 200); do
    for pid in $(pgrep -f '^C:.*\\Talvoreen-Uninstall-[0-9]+\.exe --uninstall-run ' || true); do
      if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$work/wineprefix"; then
        echo "$pid"; return 0
      fi
    done
    sleep 0.05
  done
}

# An uninstall is finished from whatever a killed one left: the launcher's own --uninstall
# while the launcher is still in a folder that is an installation or holds the uninstall
# marker (its registration may be gone: it finds the folder by those), else the second stage
# on the folder (after the marker went, the launcher alone no longer makes the folder one).
# Prints "finished <exit code of the stage started here>".
run_uninstall_again() {
  local left="$install/Talvoreen Launcher.exe" pid code second="" attempt
  if [ ! -f "$left" ] || { [ ! -f "$install/.talvoreen-uninstall" ] && [ ! -f "$install/Talvoreen.exe" ] &&
    [ ! -f "$install/.talvoreen/installed.json" ]; }; then
    run_operation uninstall
    return
  fi
  # A key that xdotool delivers before the dialog takes input can answer Cancel, which removes
  # nothing: the confirmation is then given again (a stage 1 that never hands over still fails).
  for attempt in 1 2 3; do
    code=0
    "$root/cmake/wine-run.sh" "$work" "$left" --uninstall >"$work/runs/last.out" 2>&1 &
    pid=$!
    confirm_uninstall "$pid"
    wait "$pid" || code=$?
    second=$(second_stage_pid)
    [ -z "$second" ] || break
    echo "uninstall: the first stage handed over to no second stage (try $attempt)" >&2
  done
  if [ -n "$second" ]; then
    answer_boxes "$second"
    while kill -0 "$second" 2>/dev/null; do sleep 0.1; done
  fi
  echo "finished $code"
}

# Moments where the operation ends itself as abruptly as a kill, each met once per campaign
# whatever the random draws hit: between the uninstall's second stage's steps
# (TALVOREEN_UNINSTALL_KILL_AT); in a sync, a chunk just stored, a file just assembled from its
# chunks, a large object part-way (TALVOREEN_SYNC_KILL_AT).
kill_points() {
  case "$1" in
    uninstall) echo marker-written files-removed registration-removed marker-removed launcher-removed ;;
    sync-fresh) echo chunk-stored chunks-assembled object-part ;;
    sync-update) echo chunk-stored chunks-assembled ;;
  esac
}

run_again() {
  case "$1" in
    uninstall) run_uninstall_again ;;
    *) run_operation "$1" ;;
  esac
}

# Runs the operation; with a delay (ms) the process is killed that long after its .exe
# started. Prints "killed", "finished <exit code>" or "no-start".
run_operation() {
  local op="$1" delay="${2:-}" pid first
  local -a args
  read -r -a args <<<"$(arguments "$op")"
  # Paths with spaces do not occur in the arguments above (only in the executable's path).
  "$root/cmake/wine-run.sh" "$work" "$subject" "${args[@]}" >"$work/runs/last.out" 2>&1 &
  pid=$!
  for _ in $(seq 800); do
    first=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -n 1 || true)
    [[ "$first" == *.exe ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.01
  done
  date +%s%N >"$work/runs/started"
  if [ -n "$delay" ]; then
    case "$delay" in
      when:*) python3 "$work/when.py" "${delay#when:}" "$install" "$pid" ;;
      *) sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))" ;;
    esac
    if kill -KILL "$pid" 2>/dev/null; then
      wait "$pid" 2>/dev/null || true
      echo killed
      return
    fi
  elif [ "$op" = uninstall ]; then
    answer_boxes "$pid"
  fi
  local code=0
  wait "$pid" || code=$?
  echo "finished $code"
}

judge() {
  local op="$1" out="$work/runs/last.out" ok=0
  case "$op" in
    sync-fresh|sync-update|sync-verify)
      local src=game1 build=crash-1
      [ "$op" = sync-fresh ] || { src=game2; build=crash-2; }
      grep -q "^result up-to-date build $build unavailable 0$" "$out" || { fail "$op: $(tail -n 1 "$out")"; ok=1; }
      check tree "$work/$src" "$install" TALVOREEN .talvoreen || { fail "$op: installed tree differs from $build"; ok=1; }
      check state "$install/.talvoreen/installed.json" "$install" "$build" || { fail "$op: state file"; ok=1; } ;;
    server-files)
      grep -q '^result up-to-date' "$out" || { fail "$op: $(tail -n 1 "$out")"; ok=1; }
      check tree "$work/resources" "$install/mods/deathmatch/resources" || { fail "$op: server files differ"; ok=1; }
      check state "$install/.talvoreen/server-corvel.json" "$install/mods/deathmatch" - \
        || { fail "$op: server state file"; ok=1; } ;;
    gta)
      grep -q '^result done ' "$out" || { fail "$op: $(tail -n 1 "$out")"; ok=1; }
      check tree "$work/gta-tree/GTA-SA" "$install/GTA-SA" || { fail "$op: GTA-SA differs"; ok=1; }
      wine_run reg query 'HKCU\Software\Talvoreen\Common' /v GtaSaFolder 2>/dev/null | tr -d '\r' \
        | grep -qF "$(winpath "$install")\\GTA-SA" || { fail "$op: GTA folder not registered"; ok=1; } ;;
    self-update)
      grep -q '^result updated remote 0.4.22$' "$out" || { fail "$op: $(tail -n 1 "$out")"; ok=1; }
      cmp -s "$subject" "$install/Talvoreen Launcher.exe" || { fail "$op: installed launcher differs"; ok=1; }
      # The installed launcher starts and reports its version in its log header.
      wine_run "$install/Talvoreen Launcher.exe" --headless check --dir "$(winpath "$install")" --cdn "$(url cdn1)" \
        >/dev/null 2>&1 || true
      tail -n 5 "$install/TALVOREEN/logs/launcher.log" 2>/dev/null | grep -q 'Talvoreen Launcher 0.4.21 | headless check' \
        || { fail "$op: the installed launcher did not start"; ok=1; }
      rm -rf "$install/TALVOREEN" "$install/.talvoreen" ;;
    uninstall)
      grep -q '^finished 0$' "$work/runs/last.status" || { fail "$op: $(cat "$work/runs/last.status")"; ok=1; }
      [ ! -e "$install" ] || { fail "$op: left in the folder: $(cd "$install" && find . | head -n 5 | tr '\n' ' ')"; ok=1; }
      local keys="" key
      for key in 'HKCU\Software\Talvoreen' 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvoreenMultiplayer' \
                 'HKCU\Software\Classes\talvoreen'; do
        if wine_run reg query "$key" >/dev/null 2>&1; then keys="$keys $key"; fi
      done
      [ -z "$keys" ] || { fail "$op: registration left ($keys)"; ok=1; } ;;
  esac
  if [ -d "$install" ]; then check scratch "$install" || { fail "$op: scratch files remain"; ok=1; }; fi
  return $ok
}

# After a kill: runs the operation again and judges the result (status, verdict, recovered);
# a round that does not recover keeps its folder as runs/failed-<op>-<round>.
recover_round() {
  status=$(run_again "$1")
  echo "$status" >"$work/runs/last.status"
  if judge "$1"; then
    recovered=$((recovered + 1)); verdict=recovered
  else
    verdict="NOT RECOVERED"
    cp -a "$install" "$work/runs/failed-$1-$2" 2>/dev/null || true
  fi
}

total_kills=0
summary=()
for op in "${operations[@]}"; do
  # How long an uninterrupted run lasts, from the .exe's start: kill moments are drawn in it.
  setup "$op"
  status=$(run_operation "$op")
  span=$(( ($(date +%s%N) - $(cat "$work/runs/started")) / 1000000 ))
  echo "$status" >"$work/runs/last.status"
  judge "$op" || { echo "== $op: the uninterrupted run already fails"; summary+=("$op: broken"); continue; }
  echo "== $op: an uninterrupted run takes $span ms"
  kills=0; early=0; recovered=0; rounds_done=$rounds
  for round in $(seq "$rounds"); do
    [ "$op" != gta ] || gta_round "$round"
    setup "$op"
    # Drawn within 80 % of the measured run: runs vary in length, and a round whose run ends
    # before its kill counts as no kill.
    delay=$(( (RANDOM * 32768 + RANDOM) % (span * 8 / 10 > 1 ? span * 8 / 10 : 1) ))
    [ "$op" != gta ] || delay="${gta_kill:-$delay}"
    killed=$(run_operation "$op" "$delay")
    if [ "$killed" = killed ]; then kills=$((kills + 1)); else early=$((early + 1)); killed="ended first"; fi
    if [ "$op" = gta ]; then
      check unfinished "$work/gta-tree/GTA-SA" "$install/GTA-SA" "$install/.talvoreen/gta/GTA-SA.unfinished" \
        || fail "gta round $round: killed ($gta_job, $delay) with a partial copy that passes for installed"
      gta_round_job="$gta_job, left: $(gta_leftovers)"
      gta_job=gta  # the next start: the window's own check
    fi
    recover_round "$op" "$round"
    moment="after $delay ms"; [[ "$delay" != when:* ]] || moment="at ${delay#when:}"
    [ "$op" != gta ] || moment="$moment ($gta_round_job)"
    echo "$op round $round: kill $moment ($killed), run again: $status -> $verdict"
  done
  for point in $(kill_points "$op"); do
    setup "$op"
    killed=$(TALVOREEN_UNINSTALL_KILL_AT="$point" TALVOREEN_SYNC_KILL_AT="$point" run_operation "$op")
    if [ "$killed" = "finished 137" ]; then kills=$((kills + 1)); killed=killed; else early=$((early + 1)); fi
    recover_round "$op" "$point"
    rounds_done=$((rounds_done + 1))
    echo "$op at $point: $killed, run again: $status -> $verdict"
  done
  total_kills=$((total_kills + kills))
  summary+=("$op: $kills kills, $early runs ended before their kill, $recovered of $rounds_done recovered")
done

echo "== summary (seed $seed)"
printf '%s\n' "${summary[@]}"
echo "kills: $total_kills; failures: $failures"
[ "$failures" -eq 0 ]
