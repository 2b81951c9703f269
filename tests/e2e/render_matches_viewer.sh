#!/usr/bin/env bash
# The headless renderer, run with no display at all, writes the picture the viewer captures
# with "c" for the same file and the same (default) camera; "C" in the viewer writes the
# frame's vector capture under the next number.
#   render_matches_viewer.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" render "$@"
"$build/make_sample_mesh" sample.tri 120 48 >/dev/null

start_xserver "$work"
start_viewer sample.tri
capture capture0000.png
press C
for _ in $(seq 1 300); do [ -f capture0001.eps ] && break; sleep 0.1; done
quit_viewer
[ -f capture0001.eps ] || { echo "FAIL: C wrote no capture0001.eps"; cat stdout.txt; exit 1; }
tail -n1 capture0001.eps | grep -qx showpage || { echo "FAIL: capture0001.eps is incomplete"; exit 1; }
polygons=$(grep -c '^closepath fill$' capture0001.eps || true)
[ "$polygons" -gt 1000 ] || { echo "FAIL: capture0001.eps holds $polygons polygons"; exit 1; }

env -u DISPLAY -u XAUTHORITY "$build/velmora-render" -o render.png sample.tri >render.out 2>render.err ||
  { echo "FAIL: velmora-render ended with status $?"; cat render.err; exit 1; }
"$build/tests/pngprobe" --compare render.png capture0000.png ||
  { echo "FAIL: velmora-render's picture differs from the viewer's capture (files in $work)"; exit 1; }
echo "PASS"
