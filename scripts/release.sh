#!/usr/bin/env bash
# release.sh OUT WIN_BUILD HOST_BUILD: what a game maker downloads, one folder per
# platform, each with the installer (setup.exe), the uninstaller (UnInst.exe), the tool,
# the makers' README and the sample game folder ready for `talven-pack medium`:
#   OUT/talven-kit-windows/   talven-pack.exe          OUT/talven-kit-windows.zip
#   OUT/talven-kit-linux/     talven-pack              OUT/talven-kit-linux.tar.gz
# Run by the `release` target of the win32 (or win64) build.
set -euo pipefail

[ $# -eq 3 ] || { echo "usage: release.sh OUT WIN_BUILD HOST_BUILD" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
out=$1 win=$2 host=$3
for f in "$win/setup.exe" "$win/UnInst.exe" "$win/talven-pack.exe" "$host/talven-pack"; do
  [ -f "$f" ] || { echo "release.sh: $f is not built" >&2; exit 1; }
done
command -v zip >/dev/null || { echo "release.sh: zip is missing (apt-get install zip)" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
work=$out/.sample
bash "$repo/examples/sample-game/build.sh" "$work" "$host/talven-pack" >"$out/sample-build.log" 2>&1 ||
  { echo "release.sh: the sample game does not build (see $out/sample-build.log)" >&2; exit 1; }

# The makers' part of the README, from its heading to the next one of the same level.
readme() {
  awk '/^## For game makers/ { on = 1 } on && /^## / && !/^## For game makers/ { exit } on' "$repo/README.md"
}

for platform in windows linux; do
  dir=$out/talven-kit-$platform
  mkdir -p "$dir"
  cp "$win/setup.exe" "$win/UnInst.exe" "$dir/"
  if [ "$platform" = windows ]; then cp "$win/talven-pack.exe" "$dir/"; else cp "$host/talven-pack" "$dir/"; fi
  readme >"$dir/README-makers.md"
  cp -a "$work/sample-game" "$dir/sample-game"
done
# Windows reads CR LF text best.
sed -i 's/$/\r/' "$out/talven-kit-windows/README-makers.md"

(cd "$out" && zip -qrX talven-kit-windows.zip talven-kit-windows)
tar -C "$out" -czf "$out/talven-kit-linux.tar.gz" talven-kit-linux
rm -rf "$work"
echo "release: $out/talven-kit-windows.zip ($(stat -c %s "$out/talven-kit-windows.zip") bytes), $out/talven-kit-linux.tar.gz"
