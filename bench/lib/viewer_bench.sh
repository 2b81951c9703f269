# Sourced by the benchmarks that run the real viewer, after `set -euo pipefail`:
#   . "$(dirname "$0")/lib/viewer_bench.sh" NAME
# Makes a temporary folder $tmp (named after NAME) that is removed at the end, with the viewer
# and X server the script starts ($viewer_pid, $xvfb_pid) ended then too, and enters it.
# median: the median of the numbers on standard input ("-" when there are none).
# start_private_x: an Xvfb of the script's own, as DISPLAY. window: the viewer's window.
# wait_for AWK-CONDITION: a line of the viewer's stderr.txt that meets it, within two minutes
# (false sooner if the viewer $viewer_pid has ended).
tmp=$(mktemp -d "${TMPDIR:-/tmp}/velmora-$1.XXXXXX")
trap 'kill $viewer_pid $xvfb_pid 2>/dev/null || true; rm -rf "$tmp"' EXIT
viewer_pid="" xvfb_pid=""
cd "$tmp"

median() { sort -g | awk '{a[NR]=$1} END {if (NR == 0) print "-"; else print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

start_private_x() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>display.txt >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do [ -s display.txt ] && break; sleep 0.1; done
  export DISPLAY=":$(tr -d '[:space:]' <display.txt)"
}

window() { xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | tail -n1 || true; }

wait_for() {
  for _ in $(seq 1 1200); do
    awk "$1 {found = 1} END {exit !found}" stderr.txt && return 0
    kill -0 "$viewer_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
