#!/usr/bin/env bash
# Opens the sample torus as other programs write it: binary PLY (written by make_sample_mesh),
# then OBJ, STL and binary glTF made from that PLY by Assimp's own exporter, and an ASCII PLY
# of its vertices alone (a point cloud). For each: the loader's line, the torus drawn on its
# ring and not in its hole (the capture of "c"), and a clean end on "q".
#   open_other_programs_models.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" foreign "$@"
command -v assimp >/dev/null || { echo "SKIP: assimp (assimp-utils) is not installed"; exit 0; }
start_xserver "$work"
"$build/make_sample_mesh" torus.tri 120 48 --plain --ply torus.ply >/dev/null
for ext in obj stl glb; do
  assimp export torus.ply "torus.$ext" >/dev/null
done
# The vertices alone, with a scalar: the first 5760 lines after the header of an ASCII copy.
assimp export torus.ply ascii.ply -fply >/dev/null
{
  echo ply
  echo "format ascii 1.0"
  echo "element vertex 5760"
  echo "property float x"
  echo "property float y"
  echo "property float z"
  echo "property float confidence"
  echo end_header
  awk '/^end_header/ { body = 1; next } body && n < 5760 { print $1, $2, $3, n % 7; n++ }' ascii.ply
} >cloud.ply

check() {
  local file=$1 expected=$2
  rm -f capture0000.png
  start_viewer "$file"
  capture capture0000.png
  quit_viewer
  grep -qF -- "$expected" stdout.txt || { echo "FAIL: $file: no line \"$expected\":"; cat stdout.txt; exit 1; }
  local probe hole ring
  probe=$("$build/tests/pngprobe" capture0000.png 256 256 256 110)
  hole=$(sed -n 2p <<<"$probe")
  ring=$(sed -n 3p <<<"$probe")
  if [ "$hole" != "191 191 191 255" ] || [ "$ring" = "191 191 191 255" ]; then
    echo "FAIL: $file: the torus is not where it should be:"
    echo "$probe"
    exit 1
  fi
  echo "ok: $file"
}

check torus.ply "torus.ply holds 11520 triangles on 5760 vertices"
check torus.obj "torus.obj holds 11520 triangles on 5760 vertices"
check torus.stl "torus.stl holds 11520 triangles on 5760 vertices"
check torus.glb "torus.glb holds 11520 triangles on 5760 vertices"
# A cloud of 5760 points: the ring pixel need not fall on a point, so only the line counts.
rm -f capture0000.png
start_viewer cloud.ply
capture capture0000.png
quit_viewer
grep -qF "cloud.ply holds 5760 points and no faces, values from confidence" stdout.txt ||
  { echo "FAIL: cloud.ply not reported:"; cat stdout.txt; exit 1; }
[ -s capture0000.png ] || { echo "FAIL: cloud.ply: no capture"; exit 1; }
echo "PASS"
