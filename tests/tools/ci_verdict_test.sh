#!/usr/bin/env bash
# .ci/run ends with one verdict over every stage: ./test's and the Arm stage's counts summed, what
# failed in either listed above it, and the verdict as the log's last line. Both stages stand in
# here as scripts that print what they print and count what they count.
set -u
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# A checkout whose ./test prints TEST_OUTPUT and exits TEST_STATUS, and whose Arm stage counts
# 3 passed and 1 failed.
mkdir -p "$work/.ci" "$work/scripts"
cp "$source_dir/.ci/run" "$work/.ci/run"
printf '#!/usr/bin/env bash\nprintf "%%s\\n" "$TEST_OUTPUT"\nexit "$TEST_STATUS"\n' >"$work/test"
cat >"$work/scripts/setup.sh" <<'STAGE'
take_turn() { :; }
end_on_interrupt() { :; }
run_arm64_tests() {
  echo "arm64: 3 unit tests passed, 1 failed"
  arm64_passed=3 arm64_failed=1 arm64_failures=("arm64: Suite.Case")
  return 1
}
STAGE
chmod +x "$work/test" "$work/.ci/run"

stages=$'\nunit and build checks: 4 passed, 1 failed\nfuzz targets: 1 passed, 0 failed'
output=$(TEST_STATUS=1 TEST_OUTPUT="build output$stages
5 passed, 1 failed
Failed:
  format_and_lint (unit and build checks): a reason" "$work/.ci/run" 2>&1)
status=$?
last=$(tail -n 1 <<<"$output")
[ "$last" = "8 passed, 2 failed" ] || fail "last line: $last"
[ "$status" -ne 0 ] || fail "exit status 0 with failures"
ending=$(sed -n '/^== Every stage$/,$p' <<<"$output")
for line in "unit and build checks: 4 passed, 1 failed" "Failed:" \
            "  format_and_lint (unit and build checks): a reason" "  arm64: Suite.Case"; do
  grep -qxF -- "$line" <<<"$ending" || fail "the ending lacks \"$line\": $ending"
done

# A ./test that ended without a verdict counts as a failure of its own.
output=$(TEST_STATUS=2 TEST_OUTPUT="cut short" "$work/.ci/run" 2>&1)
[ "$(tail -n 1 <<<"$output")" = "3 passed, 2 failed" ] ||
  fail "without ./test's verdict, last line: $(tail -n 1 <<<"$output")"

[ $failures -eq 0 ] && echo "ok: .ci/run ends with the verdict over every stage"
exit $((failures > 0))
