#!/usr/bin/env bash
# A reconstruction of many views in the viewer, medians of RUNS runs (default 3): a COLMAP binary
# model written by make_many_views (default 10,000 views, 1,000,000 points, 5 observations a
# point, photographs for the first 20 views), opened on a private Xvfb (512 x 512 view) with
# VELMORA_TIMING=1; the camera markers shown (key F), the scene dragged with the mouse, then the
# photographs shown (key b) and the views stepped through (key Left). Reported from the timing
# lines:
#   first picture   from the start to the first frame drawn after the files were loaded
#   drag frames     the frames drawn while the mouse drags (every marker drawn), median and max
#   peak            the viewer's peak resident memory before any photograph was shown
#   go to a view    from a Left key to the first frame drawn with its photograph, for the
#                   first view and the median of those after it
#
#   bench/many_views.sh BUILD [VIEWS] [POINTS] [TRACK] [RUNS]
set -euo pipefail
build=$(cd "${1:?usage: bench/many_views.sh BUILD [VIEWS] [POINTS] [TRACK] [RUNS]}" && pwd)
views=${2:-10000}
points=${3:-1000000}
track=${4:-5}
runs=${5:-3}
steps=8
. "$(cd "$(dirname "$0")" && pwd)/lib/viewer_bench.sh" views
mkdir -p home
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config"
"$build/bench/make_many_views" model "$views" "$points" "$track" $((steps + 2))
cat model/sparse/0/*.bin >/dev/null # into the page cache

start_private_x
count() { grep -c "$1" stderr.txt || true; }

: >first.txt
: >drag.txt
: >peak.txt
: >goto-first.txt
: >goto.txt
for run in $(seq 1 "$runs"); do
  VELMORA_TIMING=1 "$build/Viewer" model >stdout.txt 2>stderr.txt &
  viewer_pid=$!
  wait_for '/ files loaded/' || { echo "the model did not load"; cat stdout.txt stderr.txt; exit 1; }
  wait_for 'loaded && / expose drawn/ {found = 1} / files loaded/ {loaded = 1}' || true
  for _ in $(seq 1 100); do [ -n "$(window)" ] && break; sleep 0.1; done
  w=$(window)
  xdotool key --window "$w" F 2>/dev/null || true
  sleep 1
  before=$(count 'expose drawn')
  xdotool mousemove --window "$w" 256 256 mousedown 1 2>/dev/null || true
  for x in $(seq 260 8 420); do xdotool mousemove --window "$w" "$x" 262 2>/dev/null || true; sleep 0.05; done
  xdotool mouseup 1 2>/dev/null || true
  sleep 1
  # The frames of the drag: the pairs of "expose" and "expose drawn" after the markers went on.
  awk -v skip="$before" '/ expose$/ {t = $2} / expose drawn/ {n++; if (n > skip) print $2 - t}' stderr.txt >frames.txt
  hwm=$(awk '/VmHWM/ {print $2}' "/proc/$viewer_pid/status")
  # Photographs on, then view after view.
  xdotool key --window "$w" b 2>/dev/null || true
  wait_for '/ photograph of view /' || true
  sleep 0.5
  for _ in $(seq 1 "$steps"); do
    n=$(count 'photograph of view [0-9]* shown')
    xdotool key --window "$w" Left 2>/dev/null || true
    for _ in $(seq 1 100); do [ "$(count 'photograph of view [0-9]* shown')" -gt "$n" ] && break; sleep 0.05; done
    sleep 0.3
  done
  kill "$viewer_pid" 2>/dev/null || true
  wait "$viewer_pid" 2>/dev/null || true
  viewer_pid=""
  cp stderr.txt "${TMPDIR:-/tmp}/velmora-views-run-$run.txt"
  first=$(awk '/ files loaded/ {l = 1} l && / expose drawn/ {print $2; exit}' stderr.txt)
  # Each Left key: from the key to the first frame drawn with its photograph.
  awk '/ key$/ {k = $2; p = 0} / photograph of view [0-9]* shown/ && k {p = 1} / expose drawn/ && p && k {print $2 - k; k = 0; p = 0}' \
    stderr.txt >goto-run.txt
  echo "$first" >>first.txt
  cat frames.txt >>drag.txt
  echo "$hwm" >>peak.txt
  head -n1 goto-run.txt >>goto-first.txt
  sed 1d goto-run.txt >>goto.txt
  echo "run $run: first picture $first ms, drag frames $(wc -l <frames.txt) (median $(median <frames.txt) ms," \
    "max $(sort -g frames.txt | tail -n1) ms), peak before photographs $hwm KB," \
    "go to a view: first $(head -n1 goto-run.txt) ms, then $(sed 1d goto-run.txt | tr '\n' ' ')ms"
done
echo "model: $views views, $points points, $((points * track)) observations"
echo "first picture: median $(median <first.txt) ms (target < 3000)"
echo "drag frame: median $(median <drag.txt) ms, max $(sort -g drag.txt | tail -n1) ms (target < 50)"
echo "peak resident memory before any photograph: median $(median <peak.txt) KB (target < 600 MB)"
echo "go to a view and show its photograph: first $(median <goto-first.txt) ms, after the first: median $(median <goto.txt) ms (target < 150)"
