#!/usr/bin/env bash
# Records the stored captures in tests/captures/ anew: the capture flavour's DLL under Wine plays
# each built-in scene for 10 passes in a game folder of its own, and its capture is kept; then
# today's plug-in replays each and writes the accuracies it sets beside it as the expected ones
# (NAME.expected). ./test replays every capture there against its expectation.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
install_missing_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS="$warnings_as_errors" >/dev/null
cmake --build build -j"$(nproc)" --target windows windows-capture >/dev/null
use_wine_prefix "$PWD/build/wineprefix"

passes=10
# NAME and game-sim's options for the scene it records.
scenes=("default" "crowd --crowd 4")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
windows_path() { local path; path=$(realpath "$1"); echo "Z:${path//\//\\}"; }

for scene in "${scenes[@]}"; do
  read -r name options <<<"$scene"
  game=$work/$name
  mkdir -p "$game"
  cp build/windows/game-sim.exe build/windows/ScriptHookRDR2.dll \
     build/windows-capture/vok.quillmarrowfendcask.asi "$game"/
  # shellcheck disable=SC2086  # the scene's options, one word each
  (cd "$game" && "$wine" ./game-sim.exe --quiet --frames "$passes" $options)
  cp "$game/vok.quillmarrowfendcask.capture" "tests/captures/$name.capture"

  # Today's plug-in in the capture DLL's place writes what it sets as the expected accuracies.
  replay=$work/$name-replay
  mkdir -p "$replay"
  cp build/windows/game-sim.exe build/windows/ScriptHookRDR2.dll \
     build/windows/vok.quillmarrowfendcask.asi "$replay"/
  capture=$(windows_path "tests/captures/$name.capture")
  (cd "$replay" && "$wine" ./game-sim.exe --quiet --accept --replay "$capture")
  echo "tests/captures/$name.capture: $(stat -c %s "tests/captures/$name.capture") bytes," \
       "$(grep -c '^pass' "tests/captures/$name.expected") accuracies expected"
done
