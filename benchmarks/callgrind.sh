#!/usr/bin/env bash
# The plug-in's own instructions per pass and per treated ped, counted by callgrind.
#
#   benchmarks/callgrind.sh [BUILD_DIR]     (default: build; needs its pass_driver target built)
#
# For each crowd size pass_driver runs PASSES steady passes under
#   valgrind --tool=callgrind --toggle-collect=measuredPasses
# so that only the passes are counted, not the set-up or the first pass. The plug-in's own
# instructions are all of them less those spent inside the host's entry points (nativeInit,
# nativePush64, nativeCall, scriptWait, inclusive of everything the simulated game does there),
# read from callgrind_annotate --inclusive=yes. "floor" is the same count for a replay of the
# pass's native calls: the cost of making the calls with no plug-in logic at all.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
driver=$build/benchmarks/pass_driver
passes=20
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints: total instructions, instructions inside the host's entry points.
count() {
  local out=$work/callgrind.out
  valgrind --tool=callgrind --toggle-collect=measuredPasses --callgrind-out-file="$out" \
    "$driver" "$@" >/dev/null 2>&1
  callgrind_annotate --inclusive=yes --threshold=100 "$out" 2>/dev/null | awk '
    / PROGRAM TOTALS/ { gsub(",", "", $1); total = $1 }
    /:(nativeInit|nativePush64|nativeCall|scriptWait)\(/ { gsub(",", "", $1); host += $1 }
    END { printf "%d %d\n", total, host }'
}

echo "Instructions per pass, $passes steady passes each (labels off unless said)"
printf "%-13s %12s %12s %12s %12s %10s\n" "peds" "all" "host" "plug-in" "floor own" "plug-in/ped"
base=0
for run in 0 1 16 64 256 64:labels; do
  peds=${run%%:*}
  extra=()
  [ "$run" != "$peds" ] && extra=("${run#*:}")
  read -r total host < <(count "$peds" $passes "${extra[@]}")
  read -r floorTotal floorHost < <(count "$peds" $passes "${extra[@]}" floor)
  own=$(((total - host) / passes))
  floorOwn=$(((floorTotal - floorHost) / passes))
  [ "$run" = 0 ] && base=$own
  perPed="-"
  [ "$peds" -gt 0 ] && [ ${#extra[@]} -eq 0 ] && perPed=$(((own - base) / peds))
  printf "%-13s %12d %12d %12d %12d %10s\n" "${run/:/ + }" $((total / passes)) \
    $((host / passes)) "$own" "$floorOwn" "$perPed"
done
echo "plug-in: instructions outside the host's entry points; floor own: the same for a replay"
echo "of the pass's native calls; plug-in/ped: (plug-in - plug-in at 0 peds) / peds."
