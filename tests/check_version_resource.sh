#!/usr/bin/env bash
# Windows shows the DLL's product name, description and version from its version resource.
set -euo pipefail
asi=$1
version=$(head -n1 "$2")
strings=$(x86_64-w64-mingw32-strings -el "$asi")
value_after() { grep -A1 -x "$1" <<<"$strings" | sed -n 2p; }

fail=0
check() {
  local got
  got=$(value_after "$1")
  if [ "$got" != "$2" ]; then echo "$1: expected '$2', got '$got'"; fail=1; fi
}
check ProductName vok.quillmarrowfendcask
check FileVersion "$version"
check ProductVersion "$version"
check OriginalFilename vok.quillmarrowfendcask.asi
[ -n "$(value_after FileDescription)" ] || { echo "FileDescription missing"; fail=1; }
exit $fail
