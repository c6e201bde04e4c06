#!/usr/bin/env bash
# A long run of the shipped plug-in under Wine, as an evening of play: a crowd of peds, keyboard
# events from the host's thread every frame, a save load every so many frames with the settings
# file changed in between. Prints frames per second, the process's memory at 10 % and at the
# end, the plug-in's own heap, and whether every frame between save loads was like the one
# before; exits non-zero when the run did not hold up.
#   scripts/soak.sh [--frames N] [--save-load-every K] [--crowd N]
# Defaults: 1,000,000 frames, a save load every 50,000, 256 peds. Results go to out/soak/.
set -euo pipefail
cd "$(dirname "$0")/.."
frames=1000000
every=50000
crowd=256
while [ $# -gt 0 ]; do
  case "$1" in
    --frames) frames=$2; shift 2 ;;
    --save-load-every) every=$2; shift 2 ;;
    --crowd) crowd=$2; shift 2 ;;
    *) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done

source scripts/setup.sh
install_missing_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target windows >/dev/null
use_wine_prefix "$PWD/build/wineprefix"

game=out/soak/game
rm -rf out/soak
mkdir -p "$game"
cp build/windows/game-sim.exe build/windows/ScriptHookRDR2.dll \
   build/windows/vok.quillmarrowfendcask.asi "$game"/
echo "Running $frames frames of $crowd peds, a save load every $every frames, under Wine..."
start=$(date +%s.%N)
"$wine" "$game"/game-sim.exe --quiet --crowd "$crowd" --frames "$frames" \
  --save-load-every "$every" --keys-every-frame --scene tests/e2e/scenes/save_loads.ini \
  --json out/soak/results.json --count-heap out/soak/heap.json >out/soak/stdout.txt
end=$(date +%s.%N)
cat out/soak/stdout.txt
echo
# The memory may grow by at most 2 MiB from the frame a tenth into the run to its end.
python3 scripts/soak_check.py out/soak/results.json out/soak/heap.json \
  "$(python3 -c "print($end - $start)")" "$frames" "$((frames / every))" $((2 * 1024 * 1024))
