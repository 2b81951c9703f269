#!/usr/bin/env bash
# Opens a generated sample mesh, presses "c" then "q", and checks that the viewer reported the
# mesh, drew it over the background, and ended cleanly. Runs under the X server of xvfb-run.
#   open_sample_mesh.sh <Viewer> <build folder>
set -euo pipefail
viewer=$1
build=$2
work=$(mktemp -d "$build/Testing/Temporary/e2e-mesh.XXXXXX")
cd "$work"
"$build/make_sample_mesh" torus.tri 120 48 >/dev/null

"$viewer" torus.tri >stdout.txt 2>stderr.txt &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT

win=""
for _ in $(seq 1 100); do
  win=$(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "FAIL: no window named Velmora"; cat stderr.txt; exit 1; }
sleep 0.5
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
xdotool key --window "$win" c
for _ in $(seq 1 50); do [ -f capture0000.png ] && break; sleep 0.1; done
xdotool key --window "$win" q

status=0
for _ in $(seq 1 100); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if kill -0 $pid 2>/dev/null; then echo "FAIL: viewer still running after q"; exit 1; fi
wait $pid || status=$?
trap - EXIT

[ "$status" -eq 0 ] || { echo "FAIL: exit status $status"; cat stderr.txt; exit 1; }
grep -qx 'GLMeshObject: 11520 triangles, 5760 vertices' stdout.txt ||
  { echo "FAIL: the mesh was not reported:"; cat stdout.txt; exit 1; }
[ -f capture0000.png ] || { echo "FAIL: capture0000.png not written"; exit 1; }
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
