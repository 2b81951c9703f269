#!/usr/bin/env bash
# Measures "Distance to..." through the panels as a user does, with the keyboard: the
# control window's menu of the element (F10, then Right from "File"), where "d" picks
# "Distance to...", opens the window; Return in its "maximum distance" field computes. Mesh to
# mesh and points to mesh each must end with their figures while the viewer keeps answering.
# Against a cloud that takes long to measure, a measurement cancelled as soon as it starts, one
# cancelled once its progress line passed a fifth, and one whose window is closed while it
# runs must each end "stopped", with no figures, and the viewer must answer after each and
# quit cleanly. Every step waits for what it needs (a window, a line, a file), never for a
# fixed time. Runs under a private X server of its own.
#   distance_panel.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" distance "$@"
start_xserver "$work"
"$build/make_sample_mesh" target.tri 400 160 --plain >/dev/null
"$build/make_sample_mesh" probe.tri 120 60 --plain >/dev/null
"$build/make_dense_cloud" cloud.ply 400000 >/dev/null
"$build/make_dense_cloud" large.ply 2000000 >/dev/null

fail() { echo "FAIL: $1"; cat stdout.txt stderr.txt; exit 1; }

# window NAME: the visible window of that exact title, empty when there is none.
window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n1 || true; }

# wait_window NAME [gone]: waits for the window of that title to show (or, with "gone", to go).
wait_window() {
  for _ in $(seq 1 600); do
    if [ -n "$(window "$1")" ] && [ -z "${2:-}" ]; then return 0; fi
    if [ -z "$(window "$1")" ] && [ -n "${2:-}" ]; then return 0; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  fail "window \"$1\" ${2:-not shown}"
}

# keys_to NAME KEY...: the keys, in order, to the window of that title once it shows.
keys_to() {
  local name=$1
  shift
  wait_window "$name"
  xdotool key --window "$(window "$name")" "$@" 2>/dev/null || true
}

# wait_line PATTERN WHAT [COUNT]: waits for COUNT (1) lines of stdout.txt matching PATTERN.
wait_line() {
  for _ in $(seq 1 1200); do
    [ "$(grep -c "$1" stdout.txt || true)" -ge "${3:-1}" ] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  fail "$2"
}

# The viewer answers when a key to the view window takes effect: "c" writes a capture.
answers() {
  rm -f capture*.png
  press c
  for _ in $(seq 1 600); do
    [ -n "$(find . -maxdepth 1 -name 'capture*.png')" ] && return 0
    sleep 0.1
  done
  fail "the viewer does not answer $1"
}

# The selected element's menu, "d" in it (once an item of it is selected: Down), and the
# window waits with its "maximum distance" field focused. Keys that arrived while the viewer
# was still busy setting up its panels are tried again after Escape closed what they opened.
open_distance() {
  for _ in 1 2 3; do
    keys_to Interface F10 Right Down d
    for _ in $(seq 1 100); do
      [ -n "$(window 'Distance to\.\.\.')" ] && return 0
      sleep 0.1
    done
    keys_to Interface Escape Escape
  done
  fail "no window \"Distance to...\" after the menu"
}

# Mesh to mesh: the probe (loaded last, so its panel is shown) against the target.
start_viewer target.tri probe.tri
open_distance
keys_to 'Distance to\.\.\.' Return
wait_line '^distance to target.tri: mean ' "mesh to mesh gave no figures"
answers "after mesh to mesh"
quit_viewer

start_viewer target.tri cloud.ply
open_distance
keys_to 'Distance to\.\.\.' Return
wait_line '^distance to target.tri: mean .*(400000 points' "points to mesh gave no figures"
answers "after points to mesh"
quit_viewer

# The same with a cloud that takes long, stopped three ways; Return in the progress window
# presses its "Cancel".
start_viewer target.tri large.ply
open_distance
keys_to 'Distance to\.\.\.' Return
keys_to 'Distance to target.tri' Return
wait_line '^Distance to target.tri: stopped' "a measurement cancelled at once did not stop"
wait_window 'Distance to target.tri' gone
answers "after a cancel"

keys_to 'Distance to\.\.\.' Return
wait_line '^Distance to target.tri: [2-9]0%' "a measurement showed no progress"
keys_to 'Distance to target.tri' Return
wait_line '^Distance to target.tri: stopped' "a measurement cancelled part way did not stop" 2
wait_window 'Distance to target.tri' gone

keys_to 'Distance to\.\.\.' Return
wait_window 'Distance to target.tri'
xdotool windowclose "$(window 'Distance to\.\.\.')"
wait_line '^Distance to target.tri: stopped' "closing the window did not stop the measurement" 3
wait_window 'Distance to target.tri' gone
answers "after closing the window of a measurement"
! grep -q '^distance to target.tri: mean' stdout.txt || fail "a stopped measurement gave figures"
quit_viewer
echo "PASS"
