#!/usr/bin/env bash
# Measures "Distance to..." through the panels as a user does, with the keyboard: the
# control window's menu of the element opens the window, Return in its "maximum distance"
# field computes. Mesh to mesh and points to mesh each must end with their figures while
# the viewer keeps answering; a measurement cancelled as soon as it starts, and one cancelled
# part way, must end "stopped", and the viewer must still quit cleanly. Runs under a private
# X server of its own.
#   distance_panel.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" distance "$@"
start_xserver "$work"
"$build/make_sample_mesh" target.tri 400 160 --plain >/dev/null
"$build/make_sample_mesh" probe.tri 120 60 --plain >/dev/null
"$build/make_dense_cloud" cloud.ply 400000 >/dev/null

fail() { echo "FAIL: $1"; cat stdout.txt stderr.txt; exit 1; }

# window NAME: the visible window of that exact title, empty when there is none.
window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n1 || true; }

# keys_to NAME KEY...: the keys, one by one, to the window of that title (waited for).
keys_to() {
  local name=$1 w=""
  shift
  for _ in $(seq 1 100); do
    w=$(window "$name")
    [ -n "$w" ] && break
    sleep 0.1
  done
  [ -n "$w" ] || fail "no window \"$name\""
  for key in "$@"; do
    xdotool key --window "$w" "$key" 2>/dev/null || true
    sleep 0.3
  done
}

# wait_line PATTERN WHAT [TENTHS] [COUNT]: waits for COUNT (1) lines of stdout.txt matching
# PATTERN.
wait_line() {
  for _ in $(seq 1 "${3:-300}"); do
    [ "$(grep -c "$1" stdout.txt || true)" -ge "${4:-1}" ] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  fail "$2"
}

# The viewer answers when a key to the view window takes effect: "c" writes a capture.
answers() {
  rm -f capture*.png
  press c
  for _ in $(seq 1 200); do
    [ -n "$(find . -maxdepth 1 -name 'capture*.png')" ] && return 0
    sleep 0.1
  done
  fail "the viewer does not answer $1"
}

# open_distance UPS: the selected element's menu (after "File" in the control window), the item
# "Distance to..." UPS items up from its top (the mesh's menu ends with "Orient faces
# consistently" after it), and the window waits with its "maximum distance" field focused.
open_distance() {
  local ups=()
  for _ in $(seq 1 "$1"); do ups+=(Up); done
  keys_to Interface F10 Right Down "${ups[@]}" Return
  for _ in $(seq 1 100); do
    [ -n "$(window 'Distance to\.\.\.')" ] && return 0
    sleep 0.1
  done
  fail "no window \"Distance to...\" after the menu"
}

# Mesh to mesh: the probe (loaded last, so its panel is shown) against the target.
start_viewer target.tri probe.tri
open_distance 2
keys_to 'Distance to\.\.\.' Return
wait_line '^distance to target.tri: mean ' "mesh to mesh gave no figures"
answers "after mesh to mesh"
quit_viewer

# Points to mesh, then the same cancelled at once and cancelled part way.
start_viewer target.tri cloud.ply
open_distance 1
keys_to 'Distance to\.\.\.' Return
wait_line '^distance to target.tri: mean .*(400000 points' "points to mesh gave no figures" 1200
answers "after points to mesh"

keys_to 'Distance to\.\.\.' Return
keys_to 'Distance to target.tri' Return
wait_line '^Distance to target.tri: stopped' "a measurement cancelled at once did not stop"
answers "after a cancel"

keys_to 'Distance to\.\.\.' Return
sleep 1
keys_to 'Distance to target.tri' Return
wait_line '^Distance to target.tri: stopped\|^distance to target.tri: mean' "a measurement cancelled part way did not end" \
  300 3
answers "after a cancel part way"
quit_viewer
echo "PASS"
