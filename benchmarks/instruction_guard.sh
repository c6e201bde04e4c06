#!/usr/bin/env bash
# Fails when the plug-in's own instructions grow past their budget; run by CTest (./test).
#
#   benchmarks/instruction_guard.sh PASS_DRIVER [BUILD_TYPE]
#
# Counts with callgrind, as benchmarks/callgrind.sh does, 20 steady passes over no peds and over
# 64 treated peds. Own instructions are all of them less those inside the host's entry points.
# Exits 77 (skipped) when valgrind cannot run here or the build is not the Release one the budgets
# were taken from.

# The budgets: the counts of the current code (g++ 12, Release, -O2) plus 1 %, for another build
# of the same compiler. Lower them whenever the counts fall; after a change that has to cost more,
# raise them on purpose.
budget_per_ped=667          # counted: 660
budget_empty_pass=2472      # counted: 2447, with the weapon table's 34 rows
# Every pass rebuilds the weapon table, so a row a modder adds costs the empty pass its name's
# hash and two comparisons: the budget grows with the rows, and adding one keeps ./test green.
budget_per_weapon_row=64    # counted: 63 (35 rows: 2510)
budget_rows=34

set -uo pipefail
driver=$1
build_type=${2:-Release}
passes=20
peds=64
skip=77

if [ "$build_type" != Release ]; then
  echo "SKIPPED: the budgets hold for the Release build, this is $build_type"
  exit $skip
fi
if ! command -v valgrind >/dev/null || ! command -v callgrind_annotate >/dev/null; then
  echo "SKIPPED: valgrind is not installed (scripts/setup.sh installs it)"
  exit $skip
fi
if ! valgrind --tool=none /bin/true >/dev/null 2>&1; then
  echo "SKIPPED: valgrind cannot run on this machine"
  valgrind --tool=none /bin/true 2>&1 | tail -n 3
  exit $skip
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints the own instructions per pass of `pass_driver ARGS...`, or fails.
own_per_pass() {
  local out=$work/callgrind.out
  if ! valgrind --tool=callgrind --toggle-collect=measuredPasses --callgrind-out-file="$out" \
    "$driver" "$@" >"$work/log" 2>&1; then
    echo "pass_driver $* failed under valgrind:" >&2
    tail -n 20 "$work/log" >&2
    return 1
  fi
  callgrind_annotate --inclusive=yes --threshold=100 "$out" 2>/dev/null | awk -v passes=$passes '
    / PROGRAM TOTALS/ { gsub(",", "", $1); total = $1 }
    /:(nativeInit|nativePush64|nativeCall|scriptWait)\(/ { gsub(",", "", $1); host += $1 }
    END { if (total == 0) exit 1; printf "%d\n", (total - host) / passes }'
}

empty=$(own_per_pass 0 $passes) || exit 1
rows=$(sed -n 's/^weapon rows: //p' "$work/log")
budget_empty_pass=$((budget_empty_pass + (${rows:-$budget_rows} - budget_rows) * budget_per_weapon_row))
crowd=$(own_per_pass $peds $passes) || exit 1
per_ped=$(((crowd - empty) / peds))

status=0
check() {
  local what=$1 count=$2 budget=$3
  if [ "$count" -gt "$budget" ]; then
    echo "OVER BUDGET: $what: $count instructions, budget $budget"
    status=1
  else
    echo "ok: $what: $count instructions, budget $budget"
  fi
}
check "own instructions per treated ped ($peds peds)" "$per_ped" "$budget_per_ped"
check "own instructions per pass with no peds ($rows weapon rows)" "$empty" "$budget_empty_pass"
[ $status -eq 0 ] || echo "Budgets and how to recalibrate them: top of $0"
exit $status
