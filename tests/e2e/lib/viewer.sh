# Sourced by the end-to-end scripts, after xserver.sh: drives the viewer with xdotool.
# Expects $viewer; writes the viewer's output to stdout.txt and stderr.txt in the current folder.

view_window() { xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | tail -n1 || true; }

# start_viewer [arguments...]: starts the viewer (pid in $pid) and waits for its view window.
# A viewer that could not connect to the just-started server is started once more: on a loaded
# machine a fresh server has been seen to refuse a client right after answering another.
start_viewer() {
  local attempt
  for attempt in 1 2; do
    "$viewer" "$@" >stdout.txt 2>stderr.txt &
    pid=$!
    trap 'kill $pid 2>/dev/null || true; stop_xserver' EXIT
    for _ in $(seq 1 150); do
      [ -n "$(view_window)" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    [ -n "$(view_window)" ] && break
    kill -0 "$pid" 2>/dev/null && break
    grep -q "cannot open the X display" stderr.txt || break
    echo "note: the viewer could not connect to the X server, starting it again"
  done
  [ -n "$(view_window)" ] || { echo "FAIL: no window named Velmora"; cat stderr.txt; exit 1; }
  sleep 0.5
}

# press KEY: sends one key to the view window, looked up afresh for every key: while the
# viewer starts, an earlier lookup can name a window that is already gone. The key is sent
# once: xdotool's exit status is not a reliable sign that the key did not arrive.
press() {
  local w=""
  for _ in $(seq 1 20); do
    w=$(view_window)
    [ -n "$w" ] && break
    sleep 0.1
  done
  if [ -z "$w" ]; then
    echo "FAIL: no view window to send $1 to"
    kill -0 "$pid" 2>/dev/null || { wait "$pid"; echo "the viewer had ended with status $?"; }
    cat stdout.txt stderr.txt
    exit 1
  fi
  xdotool key --window "$w" "$1" 2>/dev/null || true
}

# capture FILE: presses "c" and waits for FILE (generously: a loaded machine draws slowly).
capture() {
  press c
  for _ in $(seq 1 300); do [ -f "$1" ] && return 0; sleep 0.1; done
  echo "FAIL: $1 not written"
  cat stdout.txt stderr.txt
  exit 1
}

# quit_viewer: presses "q" and checks that the viewer ends with status 0.
quit_viewer() {
  press q
  for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then echo "FAIL: viewer still running after q"; exit 1; fi
  local status=0
  wait "$pid" || status=$?
  trap stop_xserver EXIT
  [ "$status" -eq 0 ] || { echo "FAIL: exit status $status"; cat stderr.txt; exit 1; }
}
