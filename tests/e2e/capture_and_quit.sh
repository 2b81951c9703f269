#!/usr/bin/env bash
# Starts the viewer with no file in an empty folder, presses "c" then "q", and checks the
# capture it wrote and its exit status, on a private X server.
#   capture_and_quit.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" capture "$@"
start_xserver "$work"

start_viewer
capture capture0000.png
quit_viewer
# Keys are handled in the order they arrive, so once the viewer has ended after "q" every
# capture that "c" caused has been written: one key, one capture.
[ ! -f capture0001.png ] || { echo "FAIL: one press of c wrote more than one capture"; exit 1; }

probe=$("$build/tests/pngprobe" capture0000.png 0 0 256 256 511 511)
expected=$'512 512\n191 191 191 255\n191 191 191 255\n191 191 191 255'
if [ "$probe" != "$expected" ]; then
  echo "FAIL: capture0000.png is not a 512 x 512 frame of the 0.75 grey background:"
  echo "$probe"
  exit 1
fi
echo "PASS"
