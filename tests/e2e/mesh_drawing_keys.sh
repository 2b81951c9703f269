#!/usr/bin/env bash
# Opens a generated sample mesh and captures it shaded, after "5" (data colours) and after
# "1" (wire frame over the data colours); checks that each key changed the picture the way it
# should. Runs under a private X server of its own.
#   mesh_drawing_keys.sh <Viewer> <build folder>
set -euo pipefail
script_dir=$(cd "$(dirname "$0")" && pwd)
viewer=$1
build=$2
work=$(mktemp -d "$build/Testing/Temporary/e2e-keys.XXXXXX")
cd "$work"
. "$script_dir/lib/xserver.sh"
start_xserver "$work"
"$build/make_sample_mesh" torus.tri 120 48 >/dev/null

"$viewer" torus.tri >stdout.txt 2>stderr.txt &
pid=$!
trap 'kill $pid 2>/dev/null || true; stop_xserver' EXIT

win=""
for _ in $(seq 1 100); do
  win=$(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "FAIL: no window named Velmora"; cat stderr.txt; exit 1; }
sleep 0.5

# Presses a key in the view window (looked up afresh each time) and waits for a file.
press() {
  local w
  w=$(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | head -n1 || true)
  [ -n "$w" ] || { echo "FAIL: the view window went away"; exit 1; }
  xdotool windowactivate --sync "$w" 2>/dev/null || xdotool windowfocus --sync "$w"
  xdotool key --window "$w" "$1"
  sleep 0.3
}
capture() {
  press c
  for _ in $(seq 1 50); do [ -f "$1" ] && break; sleep 0.1; done
  [ -f "$1" ] || { echo "FAIL: $1 not written"; exit 1; }
}

capture capture0000.png
press 5
capture capture0001.png
press 1
capture capture0002.png
press q
for _ in $(seq 1 100); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
status=0
wait $pid || status=$?
trap stop_xserver EXIT
[ "$status" -eq 0 ] || { echo "FAIL: exit status $status"; cat stderr.txt; exit 1; }

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
