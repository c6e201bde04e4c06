#!/usr/bin/env bash
# Fails when the plug-in's own instructions grow past their budget; run by CTest (./test).
#
#   benchmarks/instruction_guard.sh PASS_DRIVER [BUILD_TYPE]
#
# Counts with callgrind, as benchmarks/callgrind.sh does, 20 steady passes over no peds and over
# 64 treated peds. Own instructions are all of them less those inside the host's entry points.
# Three counts, each against its own budget, so that the weapon rows a modder adds or renames move
# none of them while the code paths they guard getting dearer does:
#   - per treated ped, from the crowd's passes less the empty ones;
#   - per empty pass, less the weapon table's rebuild (all else a pass does when no ped is near);
#   - the rebuild per weapon row: a row brings its share of the budget, whatever its names' length
#     (measured: 217.7 per row with today's rows, 218.1 with a 26- and an 81-character bone name
#     added), while a rebuild done twice costs double.
# Exits 77 (skipped) when valgrind cannot run here or the build is not the Release one the budgets
# were taken from.

# The budgets (g++ 12, Release, -O2): PER_PED EMPTY_PASS REBUILD_PER_ROW.
# Re-set them by pasting the "counted:" line that every run prints, after a change that has to
# cost more or whenever the counts fall. The line adds 1 % for another build of the same compiler,
# 3 % to the per-row budget: rows' model names land in buckets with more or fewer neighbours.
budgets="666 142 224"

set -uo pipefail
driver=$1
build_type=${2:-Release}
passes=20
peds=64
skip=77
read -r budget_per_ped budget_empty_pass budget_per_row <<<"$budgets"

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

# Prints, for `pass_driver ARGS...`, the own instructions per pass and those of the weapon table's
# rebuild per pass, or fails. The host's entry points called from inside the rebuild are what the
# call tree lists under it.
own_per_pass() {
  local out=$work/callgrind.out
  if ! valgrind --tool=callgrind --toggle-collect=measuredPasses --callgrind-out-file="$out" \
    "$driver" "$@" >"$work/log" 2>&1; then
    echo "pass_driver $* failed under valgrind:" >&2
    tail -n 20 "$work/log" >&2
    return 1
  fi
  callgrind_annotate --inclusive=yes --tree=calling --threshold=100 "$out" 2>/dev/null |
    awk -v passes=$passes '
    function count(text) { gsub(",", "", text); return text + 0 }
    / PROGRAM TOTALS/ { total = count($1) }
    / \* .*:buildWeaponBoneTable\(\)/ { rebuild = count($1); inRebuild = 1; next }
    / \* / { inRebuild = 0 }
    / [*>] .*:(nativeInit|nativePush64|nativeCall|scriptWait)\(/ {
      if ($0 ~ /%\)  \* /) host += count($1); else if (inRebuild) rebuildHost += count($1)
    }
    END {
      if (total == 0) exit 1
      printf "%d %d\n", (total - host) / passes, (rebuild - rebuildHost) / passes
    }'
}

read -r empty rebuild < <(own_per_pass 0 $passes) || exit 1
if [ -z "${rebuild:-}" ] || [ "$rebuild" -le 0 ]; then
  echo "buildWeaponBoneTable is not in the call tree of the passes (inlined or renamed?): the" \
    "guard counts its rebuild apart; $0 needs the new name"
  exit 1
fi
rows=$(sed -n 's/^weapon rows: //p' "$work/log")
read -r crowd _ < <(own_per_pass $peds $passes) || exit 1
[ -n "${crowd:-}" ] || exit 1
per_ped=$(((crowd - empty) / peds))
rest=$((empty - rebuild))
rebuild_budget=$((rows * budget_per_row))

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
check "own instructions per empty pass less the weapon table's rebuild" "$rest" \
  "$budget_empty_pass"
check "weapon table's rebuild per pass ($rows rows)" "$rebuild" "$rebuild_budget"
# The whole empty pass, as ./bench's summary reads it against its target.
echo "counted: own instructions per pass with no peds ($rows weapon rows): $empty instructions"
per_row=$((rebuild / rows))
echo "counted: budgets=\"$((per_ped * 101 / 100)) $((rest * 101 / 100)) $(((per_row * 103 + 99) / 100))\""
[ $status -eq 0 ] || echo "Budgets and how to re-set them: top of $0"
exit $status
