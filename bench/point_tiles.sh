#!/usr/bin/env bash
# A cloud read node by node, whole processes: POINTS points (default 500,000,000: about
# 7.5 GB of EPT binary tiles, 15 bytes a point) written by make_point_tiles into a temporary
# folder, then shown by the real Viewer (Xvfb, 512 x 512 view, VELMORA_TIMING=1) RUNS times
# (default 3), first through a local nginx on a loopback port, then from the files:
#
#   first picture    the first frame that draws points, from the process's start (target:
#                    2 s through the server, 1 s from the files)
#   drag frame       the frames of an xdotool drag, median and largest (target: 50 ms)
#   still complete   the first still frame with every node it chose, from the start (10 s)
#   peak memory      the viewer's VmHWM, against the point memory (1.5 GB by default)
#
# The node cache goes to a folder of the run's own, empty at each start: a run measures the
# network, not the cache. Medians of the runs are printed last.
#   bench/point_tiles.sh BUILD [POINTS] [RUNS]
set -euo pipefail
build=$(cd "${1:?usage: bench/point_tiles.sh BUILD [POINTS] [RUNS]}" && pwd)
points=${2:-500000000}
runs=${3:-3}
. "$(cd "$(dirname "$0")" && pwd)/lib/viewer_bench.sh" tiles
nginx_pid=""
trap 'kill $viewer_pid $xvfb_pid $nginx_pid 2>/dev/null || true; rm -rf "$tmp"' EXIT
mkdir -p www logs cache
"$build/make_point_tiles" www/cloud "$points" 2>make.txt
echo "tiles: $points points, $(du -sb www/cloud | cut -f1) bytes in $(ls www/cloud/ept-data | wc -l) nodes"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >nginx.conf <<CONF
daemon off; master_process off; worker_processes 2; pid $tmp/nginx.pid;
error_log $tmp/logs/error.log;
events { worker_connections 256; }
http { access_log off; client_body_temp_path $tmp/t; proxy_temp_path $tmp/t; fastcgi_temp_path $tmp/t;
  uwsgi_temp_path $tmp/t; scgi_temp_path $tmp/t;
  server { listen 127.0.0.1:$port; root $tmp/www; keepalive_requests 100000; } }
CONF
/usr/sbin/nginx -p "$tmp" -c "$tmp/nginx.conf" &
nginx_pid=$!

start_private_x

for where in server files; do
  [ "$where" = server ] && cloud="http://127.0.0.1:$port/cloud/ept.json" || cloud="$tmp/www/cloud/ept.json"
  : >"$where.txt"
  for run in $(seq 1 "$runs"); do
    rm -rf cache/*
    XDG_CACHE_HOME="$tmp/cache" VELMORA_TIMING=1 "$build/Viewer" "$cloud" >stdout.txt 2>stderr.txt &
    viewer_pid=$!
    wait_for '/ point view complete/' || echo "note: no complete still view in $where run $run"
    w=$(window)
    xdotool mousemove --window "$w" 256 256 mousedown 1 2>/dev/null || true
    for x in $(seq 260 8 420); do xdotool mousemove --window "$w" "$x" 260 2>/dev/null || true; sleep 0.03; done
    xdotool mouseup 1 2>/dev/null || true
    before=$(grep -c ' point view complete' stderr.txt || true)
    for _ in $(seq 1 300); do
      [ "$(grep -c ' point view complete' stderr.txt || true)" -gt "$before" ] && break
      sleep 0.1
    done
    hwm=$(awk '/VmHWM/ {print $2}' /proc/$viewer_pid/status)
    kill "$viewer_pid" 2>/dev/null || true
    wait "$viewer_pid" 2>/dev/null || true
    viewer_pid=""
    cp stderr.txt "${TMPDIR:-/tmp}/velmora-tiles-$where-$run.txt"
    first=$(awk '/ point frame / && $8 > 0 {print $2; exit}' stderr.txt)
    complete=$(awk '/ point view complete/ {print $2; exit}' stderr.txt)
    drag=$(awk '/ point frame .*\(drag\)/ {print $6}' stderr.txt)
    echo "$first ${complete:-0} $(tr ' ' '\n' <<<"$drag" | grep . | median) $(tr ' ' '\n' <<<"$drag" | grep . | sort -g | tail -n1) $hwm" >>"$where.txt"
    echo "$where run $run: first picture at $first ms, still view complete at ${complete:--} ms," \
      "drag frames $(wc -w <<<"$drag") (median $(tr ' ' '\n' <<<"$drag" | grep . | median) ms, max $(tr ' ' '\n' <<<"$drag" | grep . | sort -g | tail -n1) ms)," \
      "peak $hwm KB"
  done
  echo "$where: medians: first picture $(cut -d' ' -f1 "$where.txt" | median) ms, still view complete $(cut -d' ' -f2 "$where.txt" | median) ms," \
    "drag frame $(cut -d' ' -f3 "$where.txt" | median) ms (largest $(cut -d' ' -f4 "$where.txt" | median) ms), peak $(cut -d' ' -f5 "$where.txt" | median) KB"
done
