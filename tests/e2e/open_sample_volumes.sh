#!/usr/bin/env bash
# Opens every generated octree and volume sample in one viewer, captures the scene, and checks
# that each file was read with the viewer's messages and that something other than the
# background was drawn. Runs under a private X server of its own.
#   open_sample_volumes.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" volumes "$@"
start_xserver "$work"
"$build/make_sample_volume" samples >/dev/null

start_viewer samples/octree_v1.oct samples/octree_v2.oct samples/octree.voc samples/octree.dn \
  samples/volume_u8.ima samples/volume_u16.ima samples/volume_u32.ima samples/volume_s8.ima \
  samples/volume_s16.ima samples/volume_s32.ima samples/volume_float.ima samples/slice.pgm samples/slice.ppm
capture capture0000.png
quit_viewer

fail() { echo "FAIL: $1"; cat stdout.txt; exit 1; }
grep -q "GL3DObjectLoader:unable to load" stdout.txt && fail "a sample was refused"
[ "$(grep -c 'in a LITTLE ENDIAN machine' stdout.txt)" -eq 3 ] || fail "the oct and voc markers were not reported"
grep -q "reading a 5-level v-octree" stdout.txt || fail "the voc header was not reported"
[ "$(grep -c '^subSampling:1,GL_MAX_TEXTURE_SIZE:' stdout.txt)" -eq 9 ] || fail "not every volume was reported"
# The centre of the view shows slices, not the background.
centre=$("$build/tests/pngprobe" capture0000.png 256 256 | sed -n 2p)
[ "$centre" != "191 191 191 255" ] || fail "nothing drawn at the centre"
echo "PASS"
