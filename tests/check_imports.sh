#!/usr/bin/env bash
# The plug-in must import the host's eight operations by their decorated names and otherwise
# only KERNEL32.dll and msvcrt.dll: a missing run-time DLL stops it loading in a game folder.
set -euo pipefail
asi=$1
dump=$(x86_64-w64-mingw32-objdump -p "$asi")

dlls=$(grep -E '^\s*DLL Name:' <<<"$dump" | awk '{print $3}' | sort)
expected_dlls=$(printf '%s\n' KERNEL32.dll ScriptHookRDR2.dll msvcrt.dll | sort)
if [ "$dlls" != "$expected_dlls" ]; then
  echo "imported DLLs differ:"; diff <(echo "$expected_dlls") <(echo "$dlls") || true; exit 1
fi

host_names=$(awk '/DLL Name: ScriptHookRDR2.dll/{on=1; next} on && (/DLL Name:/ || /^\s*$/){on=0} on && NF==3 && $1 ~ /^[0-9a-f]+$/ {print $3}' <<<"$dump" | sort)
expected_names=$(sort <<'NAMES'
?scriptRegister@@YAXPEAUHINSTANCE__@@P6AXXZ@Z
?scriptUnregister@@YAXPEAUHINSTANCE__@@@Z
?keyboardHandlerRegister@@YAXP6AXKGEHHHH@Z@Z
?keyboardHandlerUnregister@@YAXP6AXKGEHHHH@Z@Z
?scriptWait@@YAXK@Z
?nativeInit@@YAX_K@Z
?nativePush64@@YAX_K@Z
?nativeCall@@YAPEA_KXZ
NAMES
)
if [ "$host_names" != "$expected_names" ]; then
  echo "names imported from ScriptHookRDR2.dll differ:"
  diff <(echo "$expected_names") <(echo "$host_names") || true; exit 1
fi
echo "imports ok"
