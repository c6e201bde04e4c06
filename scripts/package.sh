#!/usr/bin/env bash
# Builds the release package from a Windows build:
#   OUTPUT_DIR/vok.quillmarrowfendcask-<version>.zip and its .sha256 beside it.
# It holds the plug-in, its settings file, the player's readme, the licence and the changelog
# without its modders' sections.
# The settings file in it is the one the plug-in writes on a first run: game-sim.exe runs the
# built plug-in under Wine once in an empty game folder and the file it leaves there is packed.
# With --capture, the capture flavour's package as well, from its build folder:
#   OUTPUT_DIR/vok.quillmarrowfendcask-capture-<version>.zip (its DLL, readme and the licence).
#
#   scripts/package.sh [--wine-prefix DIR] [--capture CAPTURE_BUILD_DIR] WINDOWS_BUILD_DIR OUTPUT_DIR
set -euo pipefail
usage="usage: scripts/package.sh [OPTION]... WINDOWS_BUILD_DIR OUTPUT_DIR
Packs the release zip vok.quillmarrowfendcask-<version>.zip and its .sha256 into OUTPUT_DIR.
  --wine-prefix DIR       the Wine prefix to run the plug-in in (default: build/wineprefix)
  --capture DIR           the capture flavour's build folder: its zip is packed as well
  --help                  print this help and stop"
if [ "${1:-}" = --help ]; then
  echo "$usage"
  exit 0
fi
source_dir=$(cd "$(dirname "$0")/.." && pwd)
prefix=""
capture_build=""
while [ $# -gt 2 ]; do
  case $1 in
    --wine-prefix) prefix=$2 ;;
    --capture) capture_build=$(cd "$2" && pwd) ;;
    *) break ;;
  esac
  shift 2
done
if [ $# -ne 2 ]; then
  echo "$usage" >&2
  exit 2
fi
windows_build=$(cd "$1" && pwd)
mkdir -p "$2"
output=$(cd "$2" && pwd)

cd "$source_dir"
source scripts/setup.sh
use_wine_prefix "$prefix"

plugin=vok.quillmarrowfendcask
version=$(head -n1 VERSION)
package=$plugin-$version.zip

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT

# A first run in an empty game folder: a scene without a settings file, one frame.
game=$staging/game
mkdir -p "$game"
cp "$windows_build/game-sim.exe" "$windows_build/ScriptHookRDR2.dll" "$windows_build/$plugin.asi" \
   "$game/"
printf '[scene]\nname = first run\n[player]\nposition = 0, 0, 0\n' >"$staging/first-run.ini"
# Output to a file, not a pipe: Wine's server outlives the program and would hold a pipe open.
if ! "$wine" "$game/game-sim.exe" --quiet --frames 1 --scene "$staging/first-run.ini" \
     >"$staging/game-sim.log" 2>&1; then
  cat "$staging/game-sim.log" >&2
  echo "package: the first run in the simulated game failed" >&2
  exit 1
fi
if [ ! -s "$game/$plugin.ini" ]; then
  echo "package: the plug-in wrote no settings file on its first run" >&2
  exit 1
fi

files=$staging/files
mkdir -p "$files"
cp "$windows_build/$plugin.asi" "$game/$plugin.ini" "$files/"
cp docs/player-readme.txt "$files/README.txt"
cp LICENSE "$files/LICENSE.txt"
# The changelog for players: each release's "For modders" section is left out, up to the next
# heading of its level or above, and so is a version not released yet, up to the next release.
awk '/^## / { unreleased = ($0 ~ /\(unreleased\)$/) }
     /^##+ / { modders = ($0 == "### For modders") } !modders && !unreleased' \
  CHANGELOG.md >"$files/CHANGELOG.txt"

# The same inputs give the same zip: fixed times (the commit's), modes, order, no extra fields.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
epoch=${epoch:-315532800}
# Zips a staged folder's files into OUTPUT_DIR/NAME with its .sha256 beside it.
pack() {
  local folder=$1 name=$2
  chmod 644 "$folder"/*
  TZ=UTC touch -d "@$epoch" "$folder"/*
  (cd "$folder" && LC_ALL=C ls | TZ=UTC zip -X -D -q -9 "$staging/$name" -@)
  mv -f "$staging/$name" "$output/$name"
  (cd "$output" && sha256sum "$name" >"$name.sha256")
  echo "$3: $output/$name ($(cd "$output" && cut -c1-16 "$name.sha256")...)"
}
pack "$files" "$package" "Release package"

if [ -n "$capture_build" ]; then
  capture_files=$staging/capture-files
  mkdir -p "$capture_files"
  cp "$capture_build/$plugin.asi" "$capture_files/"
  cp docs/capture-readme.txt "$capture_files/README.txt"
  cp LICENSE "$capture_files/LICENSE.txt"
  pack "$capture_files" "$plugin-capture-$version.zip" "Capture package"
fi
