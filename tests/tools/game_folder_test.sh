#!/usr/bin/env bash
# ./run's game folder: what an earlier run left goes, a settings file edited since stays as it is.
set -u
source "$1/scripts/game_folder.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# A run left the folder: its settings file is recorded and goes with everything else.
mkdir game && echo "[Debug]" >game/$settings_name && touch game/other.log
record_game_settings game record ""
kept=$(fresh_game_folder game record 2>/dev/null)
[ -z "$kept" ] && [ -z "$(ls -A game)" ] || fail "the run's own settings file was kept: $(ls -A game)"

# Edited since: kept with its bytes and time, the rest of the folder gone, and not recorded as
# the run's own afterwards.
echo "[Debug]" >game/$settings_name
record_game_settings game record ""
printf 'Angle = 5\r\n' >game/$settings_name && touch -d 2020-01-01 game/$settings_name
touch game/other.log
before=$(stat -c '%s %Y' game/$settings_name)
kept=$(fresh_game_folder game record 2>/dev/null)
[ "$(ls -A game)" = "$settings_name" ] || fail "the folder holds: $(ls -A game)"
[ "$(stat -c '%s %Y' game/$settings_name)" = "$before" ] &&
  [ "$(cat game/$settings_name)" = $'Angle = 5\r' ] || fail "the edited file changed"
record_game_settings game record "$kept"
kept=$(fresh_game_folder game record 2>/dev/null)
[ -f game/$settings_name ] || fail "the edited file went at the second run after its edit"

# Replaced by a run (game-sim --replace-settings): the run's own again, and the copy game-sim
# kept of the edited file stays.
mv game/$settings_name game/$settings_name.bak
echo "[Settings]" >game/$settings_name
record_game_settings game record "$kept"
kept=$(fresh_game_folder game record 2>/dev/null)
[ "$(ls -A game)" = "$settings_name.bak" ] && [ "$(cat game/$settings_name.bak)" = $'Angle = 5\r' ] ||
  fail "the run's own file was kept, or the copy of the replaced one went: $(ls -A game)"
rm game/$settings_name.bak

# No record at all (a folder an older ./run left): kept, since nothing says whose it is.
echo "[Debug]" >game/$settings_name && rm -f record
kept=$(fresh_game_folder game record 2>/dev/null)
[ -n "$kept" ] && [ -f game/$settings_name ] || fail "a settings file without a record went"

[ $failures -eq 0 ] && echo "ok: the game folder keeps an edited settings file and the copies of replaced ones, nothing else"
exit $((failures > 0))
