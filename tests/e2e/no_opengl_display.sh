#!/usr/bin/env bash
# The viewer without a display, and on a display without OpenGL: one clear line on standard
# error, exit status 1, no crash.
#   no_opengl_display.sh <Viewer> <build folder>
set -uo pipefail
. "$(dirname "$0")/lib/preamble.sh" noglx "$@"

env -u DISPLAY timeout 20 "$viewer" >out.txt 2>err.txt
status=$?
[ "$status" -eq 1 ] || { echo "FAIL: without a display the status is $status"; cat err.txt; exit 1; }
[ "$(wc -l <err.txt)" -eq 1 ] || { echo "FAIL: expected one line on stderr:"; cat err.txt; exit 1; }
grep -q "display" err.txt || { echo "FAIL: the line does not name the display:"; cat err.txt; exit 1; }

# An X server of its own, started without the GLX extension.
start_xserver "$work" -extension GLX
trap stop_xserver EXIT
timeout 20 "$viewer" mesh.tri >out.txt 2>err.txt
status=$?
[ "$status" -eq 1 ] || { echo "FAIL: without GLX the status is $status"; cat err.txt; exit 1; }
if [ "$(cat err.txt)" != "Viewer:impossible to use OpenGL/GLX" ]; then
  echo "FAIL: unexpected standard error without GLX:"; cat err.txt; exit 1
fi
echo "PASS"
