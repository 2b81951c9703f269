#!/usr/bin/env bash
# Opens the sample splat trainer folder by its name, steps onto an original view, asks for the
# PSNR of the splats against the view's photograph with "E", captures the view and checks that
# the splats are drawn where the photograph shows the model. Runs under a private X server.
#   splat_trainer_folder.sh <Viewer> <build folder>
set -euo pipefail
. "$(dirname "$0")/lib/preamble.sh" splats "$@"
start_xserver "$work"

"$build/make_sample_splats" sample 20000 >/dev/null 2>&1

start_viewer sample
# Left is the next view (view 1), whose photograph is images/view01.png.
press Left
press E
capture capture0000.png
quit_viewer

fail() {
  echo "FAIL: $1"
  cat stdout.txt stderr.txt
  exit 1
}
grep -q "trainer cameras.json model sample: 24 views" stdout.txt || fail "the cameras were not read"
grep -q "photographs in sample/images (24 of 24 views)" stdout.txt || fail "the photographs were not found"
grep -q "Splats: sample/point_cloud/iteration_30000/point_cloud.ply against sample/images/view01.png (view 1): PSNR [0-9.]* dB" stdout.txt ||
  fail "no PSNR for view 1"
# The middle of the window shows the model (the sample's ring), not the grey background.
probe=$("$build/tests/pngprobe" capture0000.png 0 0 | sed -n 2p)
centre=$("$build/tests/pngprobe" capture0000.png 256 300 | sed -n 2p)
[ "$probe" = "191 191 191 255" ] || fail "the corner is not the background: $probe"
[ "$centre" != "191 191 191 255" ] || fail "no splat drawn at 256 300"
echo "PASS"
