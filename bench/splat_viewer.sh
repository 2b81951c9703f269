#!/usr/bin/env bash
# A splat scene of SPLATS splats of degree 3 (default 1,000,000) in the real viewer, as a user
# meets it, medians of RUNS runs (default 3):
#
# 1. The viewer (Xvfb, its default window) from its VELMORA_TIMING lines: the first picture
#    (the first splat frame, in ms since the start), the still frames ("splat frame ... (still)")
#    and the frames of a mouse drag with xdotool ("(drag)"), each with its split of sort, blend
#    and composite (read back, laid over, drawn), and the viewer's peak resident memory
#    (VmHWM) with its bytes a splat.
# 2. velmora-render --mode splats of the same scene: wall clock and peak resident memory
#    (/usr/bin/time).
#
# The scene (build/make_sample_splats: the sample model's surface) goes to a temporary folder
# that is removed at the end.
#   bench/splat_viewer.sh BUILD [SPLATS] [RUNS]
set -euo pipefail
build=$(cd "${1:?usage: bench/splat_viewer.sh BUILD [SPLATS] [RUNS]}" && pwd)
splats=${2:-1000000}
runs=${3:-3}
. "$(cd "$(dirname "$0")" && pwd)/lib/viewer_bench.sh" splats
"$build/make_sample_splats" scene "$splats" >/dev/null 2>&1
ply=scene/point_cloud/iteration_30000/point_cloud.ply
cat "$ply" >/dev/null # into the page cache
echo "scene: $splats splats of degree 3, $(stat -c %s "$ply") bytes"


# velmora-render, whole process.
: >render.txt
for _ in $(seq 1 "$runs"); do
  /usr/bin/time -f "%e %M" -o time.txt env -u DISPLAY "$build/velmora-render" --mode splats -o r.png "$ply" >/dev/null 2>&1 || true
  cat time.txt >>render.txt
done
echo "velmora-render --mode splats: median $(cut -d' ' -f1 render.txt | median) s, peak $(cut -d' ' -f2 render.txt | median) KB" \
  "(runs: $(cut -d' ' -f1 render.txt | tr '\n' ' '))"

# The viewer on a private X server.
start_private_x
stills() { grep -c 'splat frame .*(still)' stderr.txt || true; }
# field N of the frame lines of a kind: 6 the frame's ms, 14 sort, 17 blend, 20 composite.
field() { awk -v n="$2" "/splat frame .*\\($1\\)/ {print \$n}" stderr.txt; }
for run in $(seq 1 "$runs"); do
  VELMORA_TIMING=1 "$build/Viewer" "$ply" >stdout.txt 2>stderr.txt &
  viewer_pid=$!
  for _ in $(seq 1 1200); do
    [ "$(stills)" -ge 1 ] && [ -n "$(window)" ] && break
    kill -0 "$viewer_pid" 2>/dev/null || break
    sleep 0.1
  done
  w=$(window)
  xdotool mousemove --window "$w" 300 300 mousedown 1 2>/dev/null || true
  for x in $(seq 304 8 460); do xdotool mousemove --window "$w" "$x" 310 2>/dev/null || true; sleep 0.05; done
  xdotool mouseup 1 2>/dev/null || true
  before=$(stills)
  for _ in $(seq 1 600); do
    [ "$(stills)" -gt "$before" ] && break
    sleep 0.1
  done
  hwm=$(awk '/VmHWM/ {print $2}' /proc/$viewer_pid/status 2>/dev/null || echo 0)
  kill "$viewer_pid" 2>/dev/null || true
  wait "$viewer_pid" 2>/dev/null || true
  viewer_pid=""
  cp stderr.txt "${TMPDIR:-/tmp}/velmora-splat-viewer-$run.txt"
  first=$(awk '/ splat frame / {print $2; exit}' stderr.txt)
  split() { echo "sort $(field "$1" 14 | median) ms, blend $(field "$1" 17 | median) ms, composite $(field "$1" 20 | median) ms"; }
  echo "viewer run $run: first picture at ${first:-?} ms;" \
    "still frames $(field still 6 | wc -l) (median $(field still 6 | median) ms: $(split still));" \
    "drag frames $(field drag 6 | wc -l) (median $(field drag 6 | median) ms, max $(field drag 6 | sort -g | tail -n1) ms: $(split drag));" \
    "peak $hwm KB ($(awk -v h="$hwm" -v n="$splats" 'BEGIN {printf "%.0f", h * 1024 / n}') bytes a splat)"
done
