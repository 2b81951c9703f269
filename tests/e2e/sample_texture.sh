#!/usr/bin/env bash
# Opens the sample model as ./run.sh does (its texture beside it), presses "3" and checks that
# the torus shows the texture's colours instead of its bronze. Runs under a private X server.
#   sample_texture.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" texture "$@"
start_xserver "$work"
"$build/make_sample_mesh" sample.tri 160 64 >/dev/null
[ -s sample.png ] || { echo "FAIL: no sample.png beside sample.tri"; exit 1; }

start_viewer sample.tri
capture capture0000.png
press 3
capture capture0001.png
quit_viewer

# Points on the ring all round: bronze first (red above blue), then the texture, whose hue
# turns once round the ring, so some sample is bluer than it is red.
points="256 110 402 256 256 402 110 256 360 150 150 360"
shaded=$("$build/tests/pngprobe" capture0000.png $points | sed -n '2,$p')
textured=$("$build/tests/pngprobe" capture0001.png $points | sed -n '2,$p')
fail() { echo "FAIL: $1"; echo "shaded:"; echo "$shaded"; echo "textured:"; echo "$textured"; cat stdout.txt; exit 1; }
[ "$shaded" != "$textured" ] || fail "\"3\" did not change the torus"
awk '!($1 > $3 + 40) { bad = 1 } END { exit bad }' <<<"$shaded" || fail "the shaded torus is not bronze"
awk '$3 > $1 + 40 { found = 1 } END { exit !found }' <<<"$textured" || fail "no blue of the texture on the ring"
echo "PASS"
