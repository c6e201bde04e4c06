#!/usr/bin/env bash
# clang-format and clang-tidy over our own sources; both must be clean. Both run, so that one
# run names every fault; a format fault ends with the command that fixes it.
set -uo pipefail
cd "$1" || exit 1  # source tree
build=$2           # native build tree with compile_commands.json

mapfile -t sources < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'sim/*.cpp' 'sim/*.h' 'tools/*.cpp' \
                         'tools/*.h' 'tests/*.cpp' 'tests/*.h' 'benchmarks/*.cpp' 'benchmarks/*.h' \
                         'fuzz/*.cpp' 'fuzz/*.h' 2>/dev/null ||
                       find src sim tools tests benchmarks fuzz -name '*.cpp' -o -name '*.h' 2>/dev/null)
status=0
format=$(clang-format --dry-run --Werror "${sources[@]}" 2>&1) || status=$?
if [ "$status" -ne 0 ]; then
  echo "$format"
  # "FILE:LINE:COLUMN: error: code should be clang-formatted [...]"
  mapfile -t unformatted < <(grep -E ': error: code should be clang-formatted' <<<"$format" |
                               sed -E 's/:[0-9]+:[0-9]+: error: .*//' | sort -u)
  [ ${#unformatted[@]} -eq 0 ] ||
    echo "To fix the format, in $PWD: clang-format -i ${unformatted[*]}"
fi

# Lint what the native build compiles of the plug-in, the fake game and the tools: the folders
# within this checkout, whatever folders the checkout's own path has.
mapfile -t compiled < <(grep -o '"file": *"[^"]*"' "$build/compile_commands.json" |
                        sed 's/.*"\([^"]*\)"$/\1/' |
                        awk -v root="$PWD/" 'index($0, root) == 1 &&
                                             substr($0, length(root) + 1) ~ /^(src|sim|tools)\//' |
                        sort -u)
# One clang-tidy per file, as many at once as there are cores. Each file's report goes to a file
# of its own and they are printed in the files' order: parallel runs never mix their lines.
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
lint_one() {
  clang-tidy -p "$build" --quiet "$1" >"$reports/${1//\//_}.log" 2>&1 || touch "$reports/failed"
}
export -f lint_one
export build reports
printf '%s\0' "${compiled[@]}" | xargs -0 -r -n 1 -P "$(nproc)" bash -c 'lint_one "$1"' _
for file in "${compiled[@]}"; do
  grep -v -E '^[0-9]+ warnings? generated\.$' "$reports/${file//\//_}.log" || true
done
[ ! -e "$reports/failed" ] || status=1
exit $status
