#!/usr/bin/env bash
# Opens a generated sample mesh and captures it shaded, after "5" (data colours) and after
# "1" (wire frame over the data colours); checks that each key changed the picture the way it
# should. Runs under a private X server of its own.
#   mesh_drawing_keys.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" keys "$@"
start_xserver "$work"
"$build/make_sample_mesh" torus.tri 120 48 >/dev/null

start_viewer torus.tri
capture capture0000.png
press 5
capture capture0001.png
press 1
capture capture0002.png
quit_viewer

# The ring of the torus seen from above, at three points of it; the background in a corner.
points="5 5 256 110 402 256 256 402"
shaded=$("$build/tests/pngprobe" capture0000.png $points)
data=$("$build/tests/pngprobe" capture0001.png $points)
wire=$("$build/tests/pngprobe" capture0002.png $points)
fail() { echo "FAIL: $1"; echo "shaded:"; echo "$shaded"; echo "data:"; echo "$data"; echo "wire:"; echo "$wire"; exit 1; }

ring() { sed -n '3,$p' <<<"$1"; }
# "5" replaces the lit material colour by the colours of the data; the background stays.
[ "$(ring "$shaded")" != "$(ring "$data")" ] || fail "\"5\" did not change the torus"
[ "$(sed -n 2p <<<"$shaded")" = "$(sed -n 2p <<<"$data")" ] || fail "the background changed"
# Data colours are unlit: the samples around the ring do not all share one colour.
[ "$(ring "$data" | sort -u | wc -l)" -gt 1 ] || fail "the data colours are uniform"
# "1" lays the data-coloured wire frame over the material's flat colour.
[ "$(ring "$wire")" != "$(ring "$data")" ] || fail "\"1\" did not change the torus"
cmp -s capture0001.png capture0002.png && fail "\"1\" did not change the picture"
echo "PASS"
