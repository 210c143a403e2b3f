#!/usr/bin/env bash
# Makes the RAR archives the installer tests unpack, from trees generated here, with
# Debian's rar: make_test_archives.sh <output folder>
set -euo pipefail
out="$1"
rm -rf "$out"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

game_tree() {  # a stand-in game folder: the two key files and some data
  mkdir -p "$1/GTA-SA/models" "$1/GTA-SA/data/maps"
  printf 'stand-in game executable\n' >"$1/GTA-SA/gta_sa.exe"
  head -c 300000 /dev/urandom >"$1/GTA-SA/models/gta3.img"
  printf 'weather=clear\n' >"$1/GTA-SA/data/gta.dat"
  head -c 20000 /dev/urandom >"$1/GTA-SA/data/maps/city.ipl"
}
rar_quiet() { rar "$@" -idq >/dev/null; }

# good.rar: the game plus things that must never be unpacked: a top-level file, an entry
# that climbs out with "..", a link, an encrypted entry.
mkdir good && game_tree good
printf 'readme at the top\n' >good/top.txt
printf 'escaped\n' >good/escape.txt
ln -s gta_sa.exe good/GTA-SA/link-to-exe
(cd good && rar_quiet a -ol ../good.rar GTA-SA top.txt && rar_quiet a -ap"GTA-SA/.." ../good.rar escape.txt)
printf 'secret\n' >good/secret.txt
(cd good && rar_quiet a -psecret -ap"GTA-SA" ../good.rar secret.txt)

# missing-keyfile.rar: a game folder without models\gta3.img.
mkdir partial && game_tree partial && rm partial/GTA-SA/models/gta3.img
(cd partial && rar_quiet a ../missing-keyfile.rar GTA-SA)

# no-game.rar: nothing under GTA-SA.
mkdir other && mkdir -p other/Games && printf 'x\n' >other/Games/x.txt
(cd other && rar_quiet a ../no-game.rar Games)

# multi-volume: a set of volumes; the first is what the installer would get.
mkdir big && game_tree big && head -c 400000 /dev/urandom >big/GTA-SA/models/extra.img
(cd big && rar_quiet a -m0 -v150k ../multi.rar GTA-SA)

# header-encrypted.rar: names and all encrypted.
(cd good && rar_quiet a -hpsecret ../header-encrypted.rar GTA-SA)

# corrupt.rar: the good archive with stored data overwritten in the middle.
(cd good && rar_quiet a -m0 ../stored.rar GTA-SA)
cp stored.rar corrupt.rar
size=$(stat -c %s corrupt.rar)
printf 'CORRUPTCORRUPTCORRUPT' | dd of=corrupt.rar bs=1 seek=$((size / 2)) conv=notrunc status=none

# header-corrupt.rar: the same with a file header broken; the listing pass already fails.
cp stored.rar header-corrupt.rar
name=$(grep -abo 'gta.dat' stored.rar | head -n 1 | cut -d: -f1)
printf 'XXXXXXXX' | dd of=header-corrupt.rar bs=1 seek=$((name - 40)) conv=notrunc status=none

# late-corrupt.rar: the key files arrive whole, a data file after them is broken.
cp stored.rar late-corrupt.rar
size=$(stat -c %s late-corrupt.rar)
printf 'CORRUPTCORRUPT' | dd of=late-corrupt.rar bs=1 seek=$((size - 10000)) conv=notrunc status=none

cp good.rar late-corrupt.rar missing-keyfile.rar no-game.rar header-encrypted.rar corrupt.rar header-corrupt.rar "$out/"
cp multi.part1.rar "$out/multi-volume.rar"
unrar lb "$out/good.rar" >"$out/good.list"
