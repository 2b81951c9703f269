#!/usr/bin/env bash
# Opens a generated cloud of 3,000,000 coloured points, waits until its level-of-detail
# hierarchy draws the still view, drags it with the mouse and reads the viewer's frame lines
# (VELMORA_TIMING): the frames of the drag draw at most the drag budget (400,000 points), the
# still frames before and after more. Runs under a private X server of its own.
#   drag_dense_cloud.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" drag "$@"
start_xserver "$work"
"$build/make_dense_cloud" dense.ply 3000000

export VELMORA_TIMING=1
start_viewer dense.ply

# wait_for AWK-CONDITION WHAT: waits (generously: a loaded machine is slow) for a line of
# stderr.txt that meets the condition.
wait_for() {
  for _ in $(seq 1 1200); do
    awk "$1 {found = 1} END {exit !found}" stderr.txt && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "FAIL: $2"
  cat stdout.txt stderr.txt
  exit 1
}
# A still frame of more points than the drag budget: the hierarchy is in.
wait_for '/ point frame .*\(still\)/ && $8 > 400000' "no still frame of more than the drag budget"

w=$(view_window)
xdotool mousemove --window "$w" 256 256 2>/dev/null || true
sleep 0.2
xdotool mousedown 1 2>/dev/null || true
for x in $(seq 260 12 400); do
  xdotool mousemove --window "$w" "$x" 270 2>/dev/null || true
  sleep 0.05
done
wait_for '/\(drag\)/' "no frame drawn during the drag"
xdotool mouseup 1 2>/dev/null || true
before=$(grep -c '(still)' stderr.txt)
for _ in $(seq 1 600); do
  [ "$(grep -c '(still)' stderr.txt)" -gt "$before" ] && break
  sleep 0.1
done
quit_viewer

drag=$(grep -E 'point frame .* \(drag\)' stderr.txt)
over=$(sed -E 's/.*ms, ([0-9]+) of.*/\1/' <<<"$drag" | awk '$1 > 400000' | wc -l)
[ "$over" -eq 0 ] || { echo "FAIL: drag frames above the drag budget:"; echo "$drag"; exit 1; }
after=$(grep -E 'point frame .* \(still\)' stderr.txt | tail -n1)
[ -n "$after" ] || { echo "FAIL: no still frame after the drag"; exit 1; }
echo "ok: $(wc -l <<<"$drag") drag frames, e.g. $(head -n1 <<<"$drag" | sed 's/.*point frame //')"
echo "ok: last still frame $(sed 's/.*point frame //' <<<"$after")"
echo "PASS"
