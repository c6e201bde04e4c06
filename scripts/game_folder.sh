# Sourced by ./run: its game folder is made anew for every run, so that nothing an earlier run
# left changes this one; but a settings file changed since a run left it there is someone's own
# (a modder trying a hand-edited file) and is kept, bytes and time as they were, and so are the
# copies game-sim --replace-settings keeps of the files it replaces.
settings_name=vok.quillmarrowfendcask.ini

# Empties FOLDER but for a settings file whose bytes are not those recorded in RECORD (the
# sha256sum line of the file the last run left) and the copies game-sim --replace-settings kept
# of the files it replaced (.bak, .bak2, ...). Prints the kept file's sha256sum line, if any.
fresh_game_folder() {
  local folder=$1 record=$2 settings=$1/$settings_name aside=$1.kept edited=""
  rm -rf "$aside"
  mkdir -p "$aside"
  if [ -f "$settings" ] && ! sha256sum --status -c "$record" 2>/dev/null; then
    mv "$settings" "$aside/"
    edited=yes
  fi
  if [ -d "$folder" ]; then
    find "$folder" -maxdepth 1 -name "$settings_name.bak*" -exec mv -t "$aside" {} +
  fi
  rm -rf "$folder"
  mv "$aside" "$folder"
  if [ -n "$edited" ]; then
    echo "run: $settings was changed since the last run left it: kept as it is" >&2
    sha256sum "$settings"
  fi
}

# Records the settings file a run left in FOLDER as the run's own, unless it is the kept file
# whose sha256sum line is KEPT, unchanged: that one stays someone else's.
record_game_settings() {
  local folder=$1 record=$2 kept=$3 settings=$1/$settings_name now
  if [ ! -f "$settings" ]; then
    rm -f "$record"
    return
  fi
  now=$(sha256sum "$settings")
  [ -n "$kept" ] && [ "$now" = "$kept" ] && return
  echo "$now" >"$record"
}
