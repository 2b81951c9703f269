#!/usr/bin/env bash
# Opens a COLMAP text model by its project folder (model in sparse/0, photographs in images/),
# jumps to the next view, shows the photographs with "b" and checks that the view's own
# photograph fills the window. Runs under a private X server of its own.
#   colmap_photographs.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" colmap "$@"
start_xserver "$work"

# Three 64 x 48 photographs of one colour each; the cameras look at the origin from 5 units,
# side by side. The views follow the photographs' names: a.ppm, b.ppm, c.ppm.
mkdir -p project/sparse/0 project/images
photo() { # name r g b
  local pixel
  pixel=$(printf '\\x%02x\\x%02x\\x%02x' "$2" "$3" "$4")
  { printf 'P6\n64 48\n255\n'; for _ in $(seq 1 3072); do printf "$pixel"; done; } >"project/images/$1"
}
photo a.ppm 255 0 0
photo b.ppm 0 255 0
photo c.ppm 0 0 255
cat >project/sparse/0/cameras.txt <<'MODEL'
# Camera list with one line of data per camera:
1 PINHOLE 64 48 60 60 32 24
MODEL
cat >project/sparse/0/images.txt <<'MODEL'
# Image list with two lines of data per image:
7 1 0 0 0 0.5 0 5 1 b.ppm

3 1 0 0 0 0 0 5 1 a.ppm

9 1 0 0 0 -0.5 0 5 1 c.ppm

MODEL
cat >project/sparse/0/points3D.txt <<'MODEL'
# 3D point list with one line of data per point:
1 0 0 0 255 255 0 0.25
2 0.5 0.5 0 255 255 0 0.5
3 -0.5 -0.5 0.5 255 255 0 0.75
MODEL

start_viewer project
# Left is the next view.
press Left
capture capture0000.png
press b
capture capture0001.png
quit_viewer

fail() {
  echo "FAIL: $1"
  cat stdout.txt stderr.txt
  exit 1
}
grep -q "COLMAP text model project/sparse/0: 3 views, 3 points" stdout.txt || fail "the model was not read"
grep -q "photographs in project/sparse/0/../../images (3 of 3 views)" stdout.txt ||
  grep -q "photographs in project/images (3 of 3 views)" stdout.txt || fail "the photographs were not found"
grep -q "error reading" stdout.txt && fail "a photograph could not be read"
# The 64 x 48 photographs fill the 512 x 512 window's width: bands of 64 rows above and below.
points="256 256 20 200"
plain=$("$build/tests/pngprobe" capture0000.png $points | sed 1d)
photo=$("$build/tests/pngprobe" capture0001.png $points | sed 1d)
for line in 1 2; do
  read -r r g b _ <<<"$(sed -n ${line}p <<<"$photo")"
  [ "$r" -le 8 ] && [ "$g" -ge 247 ] && [ "$b" -le 8 ] ||
    fail "the second view's photograph (green) is not shown: $(tr '\n' ' ' <<<"$photo")"
  read -r r g b _ <<<"$(sed -n ${line}p <<<"$plain")"
  [ "$g" -ge 247 ] && [ "$r" -le 8 ] && fail "green before the photographs were shown"
done
echo "PASS"
