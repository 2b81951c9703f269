#!/usr/bin/env bash
# The JSON camera files of other programs (transforms.json of nerfstudio and of NeRF, a
# Meshroom scene) of one known scene, each rendered headless from view 1 with the photographs
# shown: the view's own photograph (green) must fill the frame, as for a COLMAP model.
#   json_cameras_render.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" jsoncams "$@"

# Three 64 x 48 photographs of one colour each, in every scene's folder; the cameras look
# along +z at the origin from 5 units, side by side (centres x = -0.5, 0, 0.5). The views
# follow the photographs' names: a.ppm, b.ppm, c.ppm.
photo() { # folder name r g b
  local pixel
  pixel=$(printf '\\x%02x\\x%02x\\x%02x' "$3" "$4" "$5")
  { printf 'P6\n64 48\n255\n'; for _ in $(seq 1 3072); do printf "$pixel"; done; } >"$1/$2"
}
photos() {
  mkdir -p "$1"
  photo "$1" a.ppm 255 0 0
  photo "$1" b.ppm 0 255 0
  photo "$1" c.ppm 0 0 255
}
photos nerfstudio
photos nerf
photos meshroom
# OpenGL camera axes (y up, z back): the camera-to-world turn is diag(1, -1, -1).
frames() { # extra keys of each frame
  local sep="" x name
  for f in "b.ppm 0" "a.ppm -0.5" "c.ppm 0.5"; do
    read -r name x <<<"$f"
    printf '%s{"file_path":"./%s","transform_matrix":[[1,0,0,%s],[0,-1,0,0],[0,0,-1,-5],[0,0,0,1]]}' "$sep" "$name" "$x"
    sep=,
  done
}
echo "{\"camera_model\":\"OPENCV\",\"fl_x\":60,\"fl_y\":60,\"cx\":32,\"cy\":24,\"w\":64,\"h\":48,\"frames\":[$(frames)]}" \
  >nerfstudio/transforms.json
# The same focal length as a field of view: 2 atan(32 / 60); the size comes from a.ppm.
echo "{\"camera_angle_x\":0.97991465250292,\"frames\":[$(frames)]}" >nerf/transforms_train.json
# Meshroom 1.2.5: focal length in millimetres of a 36 mm wide sensor, the principal point as
# an offset from the image centre, absolute paths, numbers as strings.
views="" poses=""
for f in "1 a.ppm 0.5" "2 b.ppm 0" "3 c.ppm -0.5"; do
  read -r id name x <<<"$f"
  views+="${views:+,}{\"viewId\":\"$id\",\"poseId\":\"$id\",\"intrinsicId\":\"9\",\"path\":\"$work/meshroom/$name\"}"
  poses+="${poses:+,}{\"poseId\":\"$id\",\"pose\":{\"transform\":{\"rotation\":[\"1\",\"0\",\"0\",\"0\",\"1\",\"0\",\"0\",\"0\",\"1\"],\"center\":[\"$x\",\"0\",\"-5\"]}}}"
done
cat >meshroom/sfm.sfm <<SCENE
{"version":["1","2","5"],"views":[$views],
 "intrinsics":[{"intrinsicId":"9","width":"64","height":"48","sensorWidth":"36","type":"pinhole",
   "focalLength":"33.75","pixelRatio":"1","principalPoint":["0","0"]}],
 "poses":[$poses],
 "structure":[{"landmarkId":"0","color":["255","255","0"],"X":["0","0","0"],"observations":[]}]}
SCENE

fail() {
  echo "FAIL: $1"
  cat ./*.out ./*.err 2>/dev/null
  exit 1
}
render() { # output arguments...
  local out=$1
  shift
  env -u DISPLAY -u XAUTHORITY "$build/velmora-render" "$@" -o "$out" >"$out.out" 2>"$out.err" ||
    fail "velmora-render $* ended with status $?"
}
# The 64 x 48 photographs fill the 512 x 512 frame's width: bands of 64 rows above and below.
# The Meshroom model's one point lands on the middle, drawn over the photograph.
points="200 256 20 200"
for scene in nerfstudio nerf/transforms_train.json meshroom/sfm.sfm; do
  name=${scene%%/*}
  render "$name-photo.png" --view 1 --photos "$scene"
  render "$name-plain.png" --view 1 "$scene"
  grep -q "model .*: 3 views" "$name-photo.png.out" || fail "$scene was not read"
  grep -q "(3 of 3 views)" "$name-photo.png.out" || fail "the photographs of $scene were not found"
  photo=$("$build/tests/pngprobe" "$name-photo.png" $points | sed 1d)
  plain=$("$build/tests/pngprobe" "$name-plain.png" $points | sed 1d)
  for line in 1 2; do
    read -r r g b _ <<<"$(sed -n ${line}p <<<"$photo")"
    [ "$r" -le 8 ] && [ "$g" -ge 247 ] && [ "$b" -le 8 ] ||
      fail "$scene: view 1's photograph (green) is not shown: $(tr '\n' ' ' <<<"$photo")"
    read -r r g b _ <<<"$(sed -n ${line}p <<<"$plain")"
    [ "$g" -ge 247 ] && [ "$r" -le 8 ] && fail "$scene: green without the photographs"
  done
done
read -r r g b _ <<<"$("$build/tests/pngprobe" meshroom-photo.png 256 256 | sed 1d)"
[ "$r" -ge 247 ] && [ "$g" -ge 247 ] && [ "$b" -le 8 ] || fail "the Meshroom point (yellow) is not over the photograph"
# Partly see-through, as key "t" lays them over: a quarter of the green over the plain frame.
render half.png --view 1 --photo-opacity 0.25 nerfstudio
half=$("$build/tests/pngprobe" half.png $points | sed 1d)
plain=$("$build/tests/pngprobe" nerfstudio-plain.png $points | sed 1d)
for line in 1 2; do
  read -r _ g _ _ <<<"$(sed -n ${line}p <<<"$half")"
  read -r _ p _ _ <<<"$(sed -n ${line}p <<<"$plain")"
  want=$(((255 + 3 * p) / 4))
  [ "$g" -ge $((want - 6)) ] && [ "$g" -le $((want + 6)) ] ||
    fail "--photo-opacity 0.25: green $g where a quarter of the photograph over $p gives $want"
done
grep -q "nerfstudio transforms.json model" nerfstudio-photo.png.out || fail "nerfstudio's form not named"
grep -q "NeRF transforms.json model" nerf-photo.png.out || fail "NeRF's form not named"
echo "PASS"
