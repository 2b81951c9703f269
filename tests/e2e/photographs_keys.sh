#!/usr/bin/env bash
# Opens a generated sample reconstruction (camera file first, then the model), jumps to the
# next original view and captures it plain, after "b" (photographs), "t" (transparency) and
# "v" (silhouettes); checks that each key changed the picture the way it should. Runs under
# a private X server of its own.
#   photographs_keys.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" photos "$@"
start_xserver "$work"
"$build/make_sample_scene" scene 12 160 64 >/dev/null

start_viewer -c scene/scene.dat scene/scene.tri
press Right
capture capture0000.png
press b
capture capture0001.png
press t
capture capture0002.png
press v
capture capture0003.png
quit_viewer

# The 1024 x 768 photographs fill the 512 x 512 window's width: bands of 64 rows above and
# below. Points: a band, the studio background of the photograph, the model's middle.
points="5 5 20 84 256 400"
probe() { "$build/tests/pngprobe" "$1" $points | sed 1d; }
plain=$(probe capture0000.png)
photo=$(probe capture0001.png)
clear=$(probe capture0002.png)
sil=$(probe capture0003.png)
fail() {
  echo "FAIL: $1"
  printf 'plain:\n%s\nphoto:\n%s\ntransparent:\n%s\nsilhouette:\n%s\n' "$plain" "$photo" "$clear" "$sil"
  cat stdout.txt
  exit 1
}
grep -q "error reading" stdout.txt && fail "a photograph or silhouette could not be read"
grep -q "Read camera file:scene/scene.dat v3.0" stdout.txt || fail "the camera file was not read"
band=$(sed -n 1p <<<"$plain")
[ "$(sed -n 1p <<<"$photo")" = "$band" ] || fail "\"b\" drew over the band outside the photograph"
# "b": the photograph's plain background (0.80 0.84 0.88) covers the viewer's grey.
read -r r g b _ <<<"$(sed -n 2p <<<"$photo")"
[ "$r" -ge 200 ] && [ "$r" -le 208 ] && [ "$g" -ge 210 ] && [ "$g" -le 218 ] && [ "$b" -ge 220 ] && [ "$b" -le 228 ] ||
  fail "\"b\" did not show the photograph's background"
cmp -s capture0000.png capture0001.png && fail "\"b\" did not change the picture"
# "t": half the photograph, half the scene behind it.
read -r r2 _ <<<"$(sed -n 2p <<<"$clear")"
[ "$r2" -lt "$r" ] && [ "$r2" -gt 191 ] || fail "\"t\" did not mix the photograph with the scene"
cmp -s capture0001.png capture0002.png && fail "\"t\" did not change the picture"
# "v": the silhouette's black background darkens the same spot; the model's middle is white.
read -r r3 _ <<<"$(sed -n 2p <<<"$sil")"
[ "$r3" -lt "$r2" ] || fail "\"v\" did not lay the silhouette's background over the view"
cmp -s capture0002.png capture0003.png && fail "\"v\" did not change the picture"
echo "PASS"
