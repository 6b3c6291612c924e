#!/usr/bin/env bash
# build.sh OUTDIR TALVEN_PACK [UNINST_EXE]
#
# Assembles the sample game "月影の譜" into OUTDIR/sample-game and packs it into
# OUTDIR/instdat.arc with the given talven-pack (host build).
#
# What is committed and what is made here:
# - source/install.env, source/readme.txt and the game's text files are kept in UTF-8
#   with LF line ends in the repository, so that they can be read and diffed; here they
#   are converted to code page 932 with CR LF, as the installer and the game read them.
# - The menu background insttscr.rct is drawn by draw_background.sh (PNG) and converted
#   with "talven-pack rct encode"; no picture is committed.
# - The big data files (a few MiB in all) are generated: seeded pseudo-random bytes that
#   do not compress, so the package is several MiB and the extraction's bars really move.
# - tsukikage.exe, the game's program named by EXENAME, is a stand-in text file: the
#   installer only copies it and points shortcuts at it.
#
# With UNINST_EXE (the built UnInst.exe) the uninstaller is packed as UnInst.exe, so that
# an install from the menu has the program its uninstall entry names.
#
# The start-up pass writes every top-level entry whose name holds ".txt" into the work
# folder, which has no sub-folders: text files of the game therefore live in folders only
# under other extensions (.scn, .ini, .csv); a ".txt" inside a folder would stop start-up.
set -euo pipefail

[ $# -eq 2 ] || [ $# -eq 3 ] || { echo "usage: build.sh OUTDIR TALVEN_PACK [UNINST_EXE]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
pack=$2
[ -x "$pack" ] || { echo "build.sh: talven-pack not found at $pack" >&2; exit 1; }
command -v iconv >/dev/null || { echo "build.sh: iconv is missing" >&2; exit 1; }

stage=$out/sample-game
work=$out/sample-game.work
rm -rf "$stage" "$work"
mkdir -p "$stage" "$work"

# UTF-8 + LF in the repository -> CP932 + CR LF in the package.
to_cp932() {
  iconv -f UTF-8 -t CP932 "$1" | sed 's/$/\r/' >"$2"
}

to_cp932 "$here/source/install.env" "$stage/install.env"
to_cp932 "$here/source/readme.txt" "$stage/readme.txt"

bash "$here/draw_background.sh" "$work/insttscr.png"
"$pack" rct encode "$work/insttscr.png" "$stage/insttscr.rct"

# The game's own files, text converted like the settings.
(cd "$here/source/game" && find . -type d) | while IFS= read -r dir; do
  mkdir -p "$stage/$dir"
done
(cd "$here/source/game" && find . -type f) | while IFS= read -r file; do
  to_cp932 "$here/source/game/$file" "$stage/$file"
done
mkdir -p "$stage/セーブ/予備"  # an empty folder: git keeps none

if [ $# -eq 3 ]; then
  [ -f "$3" ] || { echo "build.sh: no uninstaller at $3" >&2; exit 1; }
  cp "$3" "$stage/UnInst.exe"
fi
printf 'tsukikage.exe: stand-in for the game program of the sample package.\r\n' >"$stage/tsukikage.exe"

# make_data FILE BYTES SEED: pseudo-random bytes from awk's seeded generator; the same on
# every build with the same awk, and incompressible like real sound data.
make_data() {
  LC_ALL=C awk -v n="$2" -v seed="$3" 'BEGIN { srand(seed); for (i = 0; i < n; i++) printf "%c", int(rand() * 256) }' >"$1"
  [ "$(stat -c %s "$1")" -eq "$2" ] || { echo "build.sh: could not make $1" >&2; exit 1; }
}

mkdir -p "$stage/データ/音楽" "$stage/データ/音声/千代"
make_data "$stage/データ/音楽/曲01.dat" 1572864 101
make_data "$stage/データ/音楽/曲02.dat" 1048576 102
make_data "$stage/データ/音声/千代/ch01_001.dat" 393216 201
make_data "$stage/データ/音声/千代/ch01_002.dat" 262144 202
# A 24-bit picture of the game (compresses a little, like real pictures).
mkdir -p "$stage/データ/画像"  # empty in the repository, so a fresh clone lacks it
convert -seed 7 -size 640x480 plasma:'#203060-#d0c080' -blur 0x1 -type TrueColor \
  "BMP3:$stage/データ/画像/月夜の丘.bmp"
# An empty file: a zero-length entry must install as an empty file.
: >"$stage/セーブ/最後の位置.dat"

# Fixed last-write times, so that an install can be checked against them.
find "$stage" -exec touch -d '2024-04-01 12:00:00 UTC' {} +
touch -d '2024-03-15 09:30:00 UTC' "$stage/readme.txt"
touch -d '2023-12-24 18:00:00 UTC' "$stage/データ/音楽/曲01.dat"

rm -f "$out/instdat.arc"
"$pack" pack "$stage" "$out/instdat.arc"
rm -rf "$work"
echo "sample game: $(find "$stage" -type f | wc -l) files, package $out/instdat.arc ($(stat -c %s "$out/instdat.arc") bytes)"
