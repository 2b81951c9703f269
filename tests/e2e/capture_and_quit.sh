#!/usr/bin/env bash
# Starts the viewer with no file in an empty folder, presses "c" then "q", and checks the
# capture it wrote and its exit status. Runs under the X server that xvfb-run provides.
#   capture_and_quit.sh <Viewer> <build folder>
set -euo pipefail
viewer=$1
build=$2
work=$(mktemp -d "$build/Testing/Temporary/e2e-capture.XXXXXX")
cd "$work"

"$viewer" >stdout.txt 2>stderr.txt &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT

# Wait for the view window to be mapped.
win=""
for _ in $(seq 1 100); do
  win=$(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "FAIL: no window named Velmora"; cat stderr.txt; exit 1; }
sleep 0.5
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
xdotool key --window "$win" c
for _ in $(seq 1 50); do [ -f capture0000.png ] && break; sleep 0.1; done
xdotool key --window "$win" q

status=0
for _ in $(seq 1 100); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if kill -0 $pid 2>/dev/null; then echo "FAIL: viewer still running after q"; exit 1; fi
wait $pid || status=$?
trap - EXIT

[ "$status" -eq 0 ] || { echo "FAIL: exit status $status"; cat stderr.txt; exit 1; }
[ -f capture0000.png ] || { echo "FAIL: capture0000.png not written"; cat stdout.txt; exit 1; }
probe=$("$build/tests/pngprobe" capture0000.png 0 0 256 256 511 511)
expected=$'512 512\n191 191 191 255\n191 191 191 255\n191 191 191 255'
if [ "$probe" != "$expected" ]; then
  echo "FAIL: capture0000.png is not a 512 x 512 frame of the 0.75 grey background:"
  echo "$probe"
  exit 1
fi
echo "PASS"
