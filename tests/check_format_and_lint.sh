#!/usr/bin/env bash
# clang-format and clang-tidy over our own sources; both must be clean.
set -euo pipefail
cd "$1"          # source tree
build=$2         # native build tree with compile_commands.json

mapfile -t sources < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'sim/*.cpp' 'sim/*.h' 'tools/*.cpp' \
                         'tools/*.h' 'tests/*.cpp' 'tests/*.h' 'benchmarks/*.cpp' 'benchmarks/*.h' \
                         'fuzz/*.cpp' 'fuzz/*.h' 2>/dev/null ||
                       find src sim tools tests benchmarks fuzz -name '*.cpp' -o -name '*.h' 2>/dev/null)
clang-format --dry-run --Werror "${sources[@]}"

# Lint what the native build compiles of the plug-in, the fake game and the tools.
mapfile -t compiled < <(grep -o '"file": *"[^"]*"' "$build/compile_commands.json" |
                        sed 's/.*"\([^"]*\)"$/\1/' | grep -E "/(src|sim|tools)/" | sort -u)
status=0
report=$(clang-tidy -p "$build" --quiet "${compiled[@]}" 2>&1) || status=$?
grep -v -E '^[0-9]+ warnings? generated\.$' <<<"$report" || true
exit $status
