#!/usr/bin/env bash
# Measures a path on the sample model as a user does: a click picks the start vertex, a
# Shift-click the end; a second Shift-click measures to another end. Checks that the
# "Path Distance" window opened and that the path is drawn on the surface between the two
# picked points. Runs under a private X server of its own.
#   measure_path.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" path "$@"
start_xserver "$work"
"$build/make_sample_mesh" sample.tri >/dev/null

start_viewer sample.tri

# click X Y [shift]: a click without motion at (X, Y) of the view window.
click() {
  local w
  w=$(view_window)
  [ -n "$w" ] || { echo "FAIL: no view window to click in"; cat stdout.txt stderr.txt; exit 1; }
  xdotool mousemove --window "$w" "$1" "$2" 2>/dev/null || true
  sleep 0.2
  if [ "${3:-}" = shift ]; then
    xdotool keydown shift click 1 keyup shift 2>/dev/null || true
  else
    xdotool click 1 2>/dev/null || true
  fi
  sleep 0.5
}

# The top of the ring, seen from above: the start on its outer part, the ends further round.
click 256 95
click 330 118 shift
click 360 130 shift
for _ in $(seq 1 100); do
  xdotool search --onlyvisible --name '^Path Distance$' >/dev/null 2>&1 && break
  sleep 0.1
done
capture capture0000.png
distance_window=$(xdotool search --onlyvisible --name '^Path Distance$' 2>/dev/null | head -n1 || true)
quit_viewer

fail() { echo "FAIL: $1"; cat stdout.txt; exit 1; }
[ -n "$distance_window" ] || fail "no window named \"Path Distance\""
[ "$(grep -c '^Selected vertex n:' stdout.txt)" -ge 3 ] || fail "the three clicks did not all pick a vertex"
grep -q 'loop!!\|chemin_plan' stdout.txt && fail "the walk failed"
# Seen from the eye, the path lies in a plane through it: on screen it is the straight line
# between the first and the last picked point. Somewhere along it the blue line shows.
probe=$("$build/tests/pngprobe" capture0000.png 284 103 308 110 320 113 336 120 345 124)
sed -n '2,$p' <<<"$probe" | awk '$3 > 150 && $1 < 90 && $2 < 90 { found = 1 } END { exit !found }' ||
  { echo "$probe"; fail "no blue path between the picked points"; }
echo "PASS"
