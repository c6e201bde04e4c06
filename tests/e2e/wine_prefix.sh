#!/bin/sh
# The end-to-end tests' Wine prefix and its server:  wine_prefix.sh WINE WINESERVER
# The prefix is made once (about 10 s, a minute and more on a busy machine) and kept: a rerun of
# one test reuses it. Then its server is started to stay a minute after its last program (its
# output kept off CTest's pipes, which it would hold open): left to itself it stops seconds after
# each program, and a test starting just then failed with "recvmsg: Connection reset by peer". A
# server that already stays a minute (an earlier run's) is kept; another is waited out first.
wine=$1
wineserver=$2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init || exit 1
"$wineserver" -p60 </dev/null >/dev/null 2>&1 && exit 0
# The prefix's server runs in a folder named after the prefix's device and inode.
folder=$(stat -c '%d %i' "$WINEPREFIX" |
         { read -r device inode; printf 'server-%x-%x' "$device" "$inode"; })
for server in $(pgrep -x wineserver64; pgrep -x wineserver); do
  [ "$(basename "$(readlink "/proc/$server/cwd")")" = "$folder" ] || continue
  tr '\0' ' ' <"/proc/$server/cmdline" | grep -q -- ' -p60 ' && exit 0
done
"$wineserver" -w && "$wineserver" -p60 </dev/null >/dev/null 2>&1
