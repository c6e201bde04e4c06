#!/usr/bin/env bash
# ./run, ./test and ./bench take turns in a checkout (take_turn in scripts/setup.sh): one started
# right after another has ended goes ahead without a word; one started while another runs says it
# waits, and goes ahead once that one has ended, an exec in it included.
set -u
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
# A command that takes its turn, says so, then runs what it is given ("exec ..." in its place).
turn() {
  bash -c 'source "$1/scripts/setup.sh"; take_turn tool; echo "has its turn"; shift; "$@"; exit $?' \
    _ "$source_dir" "$@"
}
wait_for() {  # FILE TEXT: up to a minute
  for _ in $(seq 600); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

# One after the other, as a shell runs two commands in a row.
# (Into a file: a pipe would be held open by the lock's helper until it has gone.)
for run in $(seq 20); do
  turn true >/dev/null 2>said.txt || fail "run $run: exit status $?"
  [ ! -s said.txt ] || { fail "run $run, right after another, said: $(cat said.txt)"; break; }
done

# While another has its turn: the second waits, saying so, until the first (now another program)
# has ended.
turn exec sh -c 'while [ ! -e release ]; do sleep 0.1; done' >first.out 2>&1 &
first=$!
wait_for first.out "has its turn" || fail "the first never had its turn"
turn true >second.out 2>&1 &
second=$!
wait_for second.out "this one waits" || fail "the second did not say it waits: $(cat second.out)"
grep -q "has its turn" second.out && fail "the second went ahead while the first ran"
touch release
wait "$first"
wait "$second" && grep -q "has its turn" second.out || fail "the second never had its turn"
[ $failures -eq 0 ] && echo "ok: a command waits, saying so, only for one still running"
exit $((failures > 0))
