#!/usr/bin/env bash
# Dense point clouds, whole processes, medians of RUNS runs (default 3):
#
# 1. velmora-render --size 512x512 of a POINTS-point binary PLY (x y z float, r g b uchar;
#    default 20,000,000) to a PNG, against f3d rendering the same file at the same size
#    (f3d --resolution 512,512 --output), wall clock and peak resident memory.
# 2. The same cloud in the viewer (Xvfb, 512 x 512 view), from its VELMORA_TIMING lines: the
#    first frame, the file read (from "start" to "files loaded": the file is read beside the
#    building of the windows), the hierarchy (from the file read to its "hierarchy complete",
#    and to the first frame drawing more than the drag budget), the ratio of the two, a still frame at the still budget, and the frames of a mouse drag; the viewer's peak
#    resident memory once the hierarchy is in, and its ratio to the point data.
#
# The cloud goes to a temporary folder that is removed at the end.
#   bench/dense_cloud.sh build [POINTS] [RUNS]
set -euo pipefail
build=$(cd "${1:?usage: bench/dense_cloud.sh BUILD [POINTS] [RUNS]}" && pwd)
points=${2:-20000000}
runs=${3:-3}
. "$(cd "$(dirname "$0")" && pwd)/lib/viewer_bench.sh" dense
"$build/make_dense_cloud" cloud.ply "$points"
cat cloud.ply >/dev/null # into the page cache for every contender
bytes=$(stat -c %s cloud.ply)
echo "cloud: $points points, $bytes bytes (point data $((points * 15)) bytes)"


timed() { # label command...: "label wall_s peak_kb" a run
  /usr/bin/time -f "%e %M" -o time.txt "$@" >/dev/null 2>&1 || true
  echo "$(cat time.txt)"
}

# VIEWER_ONLY=1 skips the whole-process comparison.
for who in $([ -n "${VIEWER_ONLY:-}" ] || echo velmora f3d); do
  : >"$who.txt"
  for _ in $(seq 1 "$runs"); do
    if [ "$who" = velmora ]; then
      timed env -u DISPLAY "$build/velmora-render" --size 512x512 -o v.png cloud.ply >>"$who.txt"
    else
      timed xvfb-run -a -s "-screen 0 1280x1024x24" f3d --resolution 512,512 --output f.png cloud.ply >>"$who.txt"
    fi
  done
  echo "$who: median $(cut -d' ' -f1 "$who.txt" | median) s, peak $(cut -d' ' -f2 "$who.txt" | median) KB (runs: $(cut -d' ' -f1 "$who.txt" | tr '\n' ' '))"
done
[ -n "${VIEWER_ONLY:-}" ] || [ -s f.png ] || echo "note: f3d wrote no picture"

# The viewer on a private X server.
start_private_x
for run in $(seq 1 "$runs"); do
  VELMORA_TIMING=1 "$build/Viewer" cloud.ply >stdout.txt 2>stderr.txt &
  viewer_pid=$!
  for _ in $(seq 1 1200); do
    awk '/ point frame .*\(still\)/ && $8 > 400000 {found = 1} END {exit !found}' stderr.txt && break
    sleep 0.1
  done
  hwm=$(awk '/VmHWM/ {print $2}' /proc/$viewer_pid/status)
  w=$(window)
  xdotool mousemove --window "$w" 256 256 mousedown 1 2>/dev/null || true
  for x in $(seq 260 8 420); do xdotool mousemove --window "$w" "$x" 260 2>/dev/null || true; sleep 0.03; done
  xdotool mouseup 1 2>/dev/null || true
  sleep 1
  # A still frame at the whole still budget: the view refined after the drag.
  for _ in $(seq 1 300); do
    tail -n 3 stderr.txt | grep -q '(still)' && [ "$(grep -c '(still)' stderr.txt)" -ge 3 ] && break
    sleep 0.1
  done
  sleep 2
  kill "$viewer_pid" 2>/dev/null || true
  wait "$viewer_pid" 2>/dev/null || true
  viewer_pid=""
  cp stderr.txt "${TMPDIR:-/tmp}/velmora-dense-viewer-$run.txt"
  loaded=$(awk '/ files loaded/ {print $2; exit}' stderr.txt)
  started=$(awk '/ start$/ {print $2; exit}' stderr.txt)
  complete=$(awk -v l="$loaded" '/ hierarchy complete/ {print $2 - l; exit}' stderr.txt)
  first=$(awk '/ point frame / {print $2; exit}' stderr.txt)
  hier=$(awk -v l="$loaded" '/ point frame .*\(still\)/ && $8 > 400000 {print $2 - l; exit}' stderr.txt)
  drag=$(awk '/ point frame .*\(drag\)/ {print $6}' stderr.txt)
  still=$(awk '/ point frame .*\(still\)/ && $8 > 400000 {s = $6 " ms for " $8} END {print s}' stderr.txt)
  echo "viewer run $run: first frame at $first ms, files loaded at $loaded ms (read $(awk -v a="$loaded" -v b="$started" 'BEGIN {print a - b}') ms)," \
    "hierarchy complete $complete ms after that ($(awk -v c="$complete" -v a="$loaded" -v b="$started" 'BEGIN {printf "%.2f", c / (a - b)}')x the read), drawn $hier ms after," \
    "drag frames $(wc -w <<<"$drag") (median $(tr ' ' '\n' <<<"$drag" | grep . | median) ms," \
    "max $(tr ' ' '\n' <<<"$drag" | grep . | sort -g | tail -n1) ms), last still frame $still points, peak $hwm KB ($(awk -v h="$hwm" -v p="$points" 'BEGIN {printf "%.2f", h * 1024 / (15 * p)}')x the point data)"
done
