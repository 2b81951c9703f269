#!/usr/bin/env bash
# Opens each file that make_sample_cloud writes (point clouds, a graph, a simplex mesh in both
# forms), one viewer at a time: checks the lines the viewer prints for it, that "c" captures
# the object drawn on the ring of the sample torus, and that "q" ends the viewer cleanly.
#   open_sample_cloud.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" cloud "$@"
start_xserver "$work"
"$build/make_sample_cloud" . 240 96 >/dev/null

# Pixels across the top of the ring (column 256, rows 60 to 160) and the hole.
ring=()
for y in $(seq 60 160); do ring+=(256 "$y"); done

check() {
  local file=$1 expected=$2
  rm -f capture0000.png
  start_viewer "$file"
  capture capture0000.png
  quit_viewer
  grep -qF -- "$expected" stdout.txt || { echo "FAIL: $file: no line \"$expected\":"; cat stdout.txt; exit 1; }
  local probe drawn
  probe=$("$build/tests/pngprobe" capture0000.png 256 256 "${ring[@]}")
  [ "$(sed -n 2p <<<"$probe")" = "191 191 191 255" ] || { echo "FAIL: $file: something in the hole"; exit 1; }
  drawn=$(tail -n +3 <<<"$probe" | grep -vcx '191 191 191 255' || true)
  [ "$drawn" -gt 0 ] || { echo "FAIL: $file: nothing drawn on the ring"; exit 1; }
  echo "ok: $file ($drawn of 101 ring pixels drawn)"
}

check cloud_colors.bin "reading an object with 23040 points"
check cloud_scores.bin "reading an object with 23040 points"
check cloud.las "bytes 23040 points"
check graph.gph "reading a graph with 360 nodes and 720 edges"
check simplex.tri "is no triangle mesh (wrong mesh type), trying a simplicial mesh"
grep -qx "46080 triangles, 46080 vertex" stdout.txt || { echo "FAIL: simplex.tri not reported"; exit 1; }
check simplex.off "is no triangle mesh (not an OFF file), trying a simplicial mesh"
echo "PASS"
