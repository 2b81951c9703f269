#!/usr/bin/env bash
# Opens a generated sample mesh, presses "c" then "q", and checks that the viewer reported the
# mesh, drew it over the background, and ended cleanly. Runs under a private X server of its own.
#   open_sample_mesh.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" mesh "$@"
start_xserver "$work"
"$build/make_sample_mesh" torus.tri 120 48 >/dev/null

start_viewer torus.tri
capture capture0000.png
quit_viewer

grep -qx 'GLMeshObject: 11520 triangles, 5760 vertices' stdout.txt ||
  { echo "FAIL: the mesh was not reported:"; cat stdout.txt; exit 1; }
# The torus seen from above: background in its hole and in the corner, surface on its ring.
probe=$("$build/tests/pngprobe" capture0000.png 256 256 5 5 256 110)
hole=$(sed -n 2p <<<"$probe")
corner=$(sed -n 3p <<<"$probe")
ring=$(sed -n 4p <<<"$probe")
if [ "$hole" != "191 191 191 255" ] || [ "$corner" != "191 191 191 255" ] || [ "$ring" = "191 191 191 255" ]; then
  echo "FAIL: the torus is not where it should be:"
  echo "$probe"
  exit 1
fi
echo "PASS"
