# Sourced by the end-to-end scripts: starts a private X server for the script and points
# DISPLAY at it. Xvfb picks a free display number itself (-displayfd), so scripts and other
# X servers on the machine never race for one. The server counts as started only once a
# client can talk to it; a server that dies on the way is started again. -noreset: without it
# the server resets whenever its last client leaves and refuses clients meanwhile, so a viewer
# started right after another one could fail to open the display.
#   start_xserver <work folder> [Xvfb options...]
start_xserver() {
  local work=$1
  shift
  local numberFile="$work/display-number"
  for _ in 1 2 3; do
    : >"$numberFile"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset "$@" 3>"$numberFile" >"$work/xvfb.log" 2>&1 &
    XSERVER_PID=$!
    for _ in $(seq 1 100); do
      [ -s "$numberFile" ] && break
      kill -0 "$XSERVER_PID" 2>/dev/null || break
      sleep 0.1
    done
    if [ -s "$numberFile" ]; then
      export DISPLAY=":$(tr -d '[:space:]' <"$numberFile")"
      for _ in $(seq 1 50); do
        xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
        kill -0 "$XSERVER_PID" 2>/dev/null || break
        sleep 0.1
      done
    fi
    stop_xserver
  done
  echo "FAIL: the private X server did not start"
  cat "$work/xvfb.log"
  exit 1
}

stop_xserver() {
  [ -n "${XSERVER_PID:-}" ] && kill "$XSERVER_PID" 2>/dev/null
  wait "$XSERVER_PID" 2>/dev/null || true
}
