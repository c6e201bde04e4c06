#!/usr/bin/env bash
# A weapon row written without a comma between two names (adjacent literals join into one name)
# must not compile against the real row type, and the error must name the row: clang by its line,
# GCC by the row's names (it places the error on the table's closing line).
#   weapon_row_check.sh SOURCE_DIR COMPILER...
set -u
source=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
table() {
  printf '#include "accuracy/weapon_bones.h"\n\nconstexpr WeaponBoneRow rows[] = {\n'
  printf '    {"rf_first", "Gun_Ammo2", "Gun_Muzzle"},\n'
  printf '%s\n' "$@"
  printf '    {"rf_last", "Gun_Ammo2", "Gun_Muzzle"},\n};\n'
}
table '    {"rf_whole", "Gun_Ammo2", "Gun_Muzzle"},' >"$work/whole.cpp"
# The comma-less row is line 5.
table '    {"rf_comma_missing", "Gun_Ammo2" "Gun_Muzzle"},' >"$work/row.cpp"
failures=0
for compiler in "$@"; do
  compile() { "$compiler" -std=c++20 -fsyntax-only -I"$source/src" "$1" 2>&1; }
  if ! output=$(compile "$work/whole.cpp"); then
    echo "FAILED: $compiler: a table of whole rows does not compile:"
    echo "$output"
    failures=$((failures + 1))
    continue
  fi
  if output=$(compile "$work/row.cpp"); then
    echo "FAILED: $compiler: a row without the comma between its bones compiles"
    failures=$((failures + 1))
    continue
  fi
  first=$(grep -m 1 -E 'error' <<<"$output")
  if [[ $first == *row.cpp:5:* || $first == *rf_comma_missing* ]]; then
    echo "ok: $compiler: $first"
  else
    echo "FAILED: $compiler: the first error names neither the row's line (row.cpp:5) nor the row:"
    echo "$output"
    failures=$((failures + 1))
  fi
done
exit $((failures > 0))
