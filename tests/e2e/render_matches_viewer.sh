#!/usr/bin/env bash
# The headless renderer, run with no display at all, writes the picture the viewer captures
# with "c" for the same file and the same (default) camera.
#   render_matches_viewer.sh <Viewer> <build folder>
set -euo pipefail
viewer=$1
build=$2
work=$(mktemp -d "$build/Testing/Temporary/e2e-render.XXXXXX")
cd "$work"
"$build/make_sample_mesh" sample.tri 120 48 >/dev/null

. "$(dirname "$0")/lib/xserver.sh"
start_xserver "$work"
. "$(dirname "$0")/lib/viewer.sh"
start_viewer sample.tri
capture capture0000.png
quit_viewer

env -u DISPLAY -u XAUTHORITY "$build/velmora-render" -o render.png sample.tri >render.out 2>render.err ||
  { echo "FAIL: velmora-render ended with status $?"; cat render.err; exit 1; }
"$build/tests/pngprobe" --compare render.png capture0000.png ||
  { echo "FAIL: velmora-render's picture differs from the viewer's capture (files in $work)"; exit 1; }
echo "PASS"
