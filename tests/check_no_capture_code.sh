#!/usr/bin/env bash
# The release plug-in holds no capture code: none of the capture flavour's texts (its file name,
# its log lines, the file's magic) nor a name of its functions, in its bytes or its tables. The
# capture flavour's DLL, checked the same way, must show them, so that the check is seen to work.
#   check_no_capture_code.sh RELEASE_ASI CAPTURE_ASI
set -euo pipefail
release=$1
capture=$2

# The capture flavour's marks; RtlCaptureContext is the run-time's unwinder, imported by both.
# objdump names the file it reads, whose path may say "capture": the path is left out.
capture_marks() {
  { strings -a "$1"; x86_64-w64-mingw32-objdump -p -t "$1" | grep -vF "$1"; } |
    grep -Ei 'capture|QMFCAPT' | grep -v 'RtlCaptureContext' | sort -u || true
}

found=$(capture_marks "$release")
if [ -n "$found" ]; then
  echo "the release plug-in $release holds capture code:"
  echo "$found" | head -n 20
  exit 1
fi
if [ -z "$(capture_marks "$capture")" ]; then
  echo "no capture marks found in the capture flavour $capture either: the check sees nothing"
  exit 1
fi
echo "no capture code in $release ($(capture_marks "$capture" | wc -l) marks in the capture flavour)"
