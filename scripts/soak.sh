#!/usr/bin/env bash
# A long run of the shipped plug-in under Wine, as an evening of play: see --help. Options are
# checked before anything is built; results go to out/soak/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
end_on_interrupt run  # it is ./run --soak
command -v python3 >/dev/null || install_missing_packages
# Sets frames, every and crowd, or names the wrong option and stops (status 2); --help prints
# the usage and stops.
settings=$(python3 scripts/soak_check.py options "$@") || exit $?
if [[ $settings != frames=* ]]; then
  echo "$settings"
  exit 0
fi
eval "$settings"

install_missing_packages
echo "Building the Windows flavour..."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS="$warnings_as_errors" >/dev/null
cmake --build build -j"$(nproc)" --target windows >/dev/null
use_wine_prefix "$PWD/build/wineprefix"

game=out/soak/game
rm -rf out/soak
mkdir -p "$game"
cp build/windows/game-sim.exe build/windows/ScriptHookRDR2.dll \
   build/windows/vok.quillmarrowfendcask.asi "$game"/
echo "Running $frames frames of $crowd peds, a save load every $every frames, under Wine..."

# game-sim says "frame F of N" every tenth of the run; shown with the time so far and to go.
progress() {
  local line done planned
  while IFS= read -r line; do
    if [[ $line =~ ^game-sim:\ frame\ ([0-9]+)\ of\ ([0-9]+) ]]; then
      done=${BASH_REMATCH[1]} planned=${BASH_REMATCH[2]}
      line="  frame $done of $planned ($((100 * done / planned)) %) after ${SECONDS} s"
      [ "$done" -ge "$planned" ] || line+=", about $((SECONDS * (planned - done) / done)) s to go"
      echo "$line"
    else
      echo "$line" >&2
    fi
  done
}

start=$(date +%s.%N)
SECONDS=0
status=0
{ "$wine" "$game"/game-sim.exe --quiet --crowd "$crowd" --frames "$frames" \
    --save-load-every "$every" --keys-every-frame --scene tests/e2e/scenes/save_loads.ini \
    --json out/soak/results.json --count-heap out/soak/heap.json 2>&1 >out/soak/stdout.txt; } |
  progress || status=$?
end=$(date +%s.%N)
if [ "$status" -ne 0 ]; then
  echo "soak: game-sim.exe stopped with status $status; its output is in out/soak/stdout.txt" >&2
  exit "$status"
fi
echo "Figures (game-sim's own report: out/soak/stdout.txt):"
# The memory may grow by at most 2 MiB from the frame a tenth into the run to its end.
python3 scripts/soak_check.py out/soak/results.json out/soak/heap.json \
  "$(python3 -c "print($end - $start)")" "$frames" "$((frames / every))" $((2 * 1024 * 1024))
