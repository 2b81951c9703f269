#!/usr/bin/env bash
# Starts the viewer with no file in an empty folder, presses "c" then "q", and checks the
# capture it wrote and its exit status, on a private X server.
#   capture_and_quit.sh <Viewer> <build folder>
set -euo pipefail
viewer=$1
build=$2
work=$(mktemp -d "$build/Testing/Temporary/e2e-capture.XXXXXX")
cd "$work"
. "$(dirname "$0")/lib/xserver.sh"
start_xserver "$work"

"$viewer" >stdout.txt 2>stderr.txt &
pid=$!
trap 'kill $pid 2>/dev/null || true; stop_xserver' EXIT

# The view window's id, once it is mapped.
find_view() { xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | tail -n1; }

# Sends a key to the view window, looking the window up afresh each time: while the viewer
# starts, a lookup can name a window that is gone by the time the key is sent.
send_key() {
  local win
  win=$(find_view)
  [ -n "$win" ] && xdotool key --window "$win" "$1" 2>/dev/null
}

for _ in $(seq 1 100); do
  [ -n "$(find_view)" ] && break
  sleep 0.1
done
[ -n "$(find_view)" ] || { echo "FAIL: no window named Velmora"; cat stderr.txt; exit 1; }
sleep 0.5

for _ in $(seq 1 10); do
  send_key c || true
  for _ in $(seq 1 20); do [ -f capture0000.png ] && break 2; sleep 0.1; done
done
[ -f capture0000.png ] || { echo "FAIL: capture0000.png not written"; cat stdout.txt stderr.txt; exit 1; }
# One key, one capture.
sleep 0.3
[ ! -f capture0001.png ] || { echo "FAIL: one press of c wrote more than one capture"; exit 1; }

for _ in $(seq 1 10); do
  send_key q || true
  for _ in $(seq 1 20); do kill -0 $pid 2>/dev/null || break 2; sleep 0.1; done
done
if kill -0 $pid 2>/dev/null; then echo "FAIL: viewer still running after q"; exit 1; fi

status=0
wait $pid || status=$?
trap stop_xserver EXIT

[ "$status" -eq 0 ] || { echo "FAIL: exit status $status"; cat stderr.txt; exit 1; }
probe=$("$build/tests/pngprobe" capture0000.png 0 0 256 256 511 511)
expected=$'512 512\n191 191 191 255\n191 191 191 255\n191 191 191 255'
if [ "$probe" != "$expected" ]; then
  echo "FAIL: capture0000.png is not a 512 x 512 frame of the 0.75 grey background:"
  echo "$probe"
  exit 1
fi
echo "PASS"
