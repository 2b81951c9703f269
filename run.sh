#!/usr/bin/env bash
# Starts the viewer, setting up and building first when it is not built yet.
#   ./run.sh [Viewer arguments]
# Without arguments it opens the sample reconstruction (cameras, photographs, silhouettes and
# model), generated into build/sample/ the first time.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ ! -x "$here/build/Viewer" ] || [ ! -x "$here/build/make_sample_mesh" ] || [ ! -x "$here/build/make_sample_scene" ]; then
  "$here/setup.sh"
fi
if [ $# -eq 0 ]; then
  scene="$here/build/sample"
  # The camera file is written after the model and before the photographs; the last contour
  # tells that the whole scene is there (a scene made before the model had its texture is made
  # again).
  if [ ! -s "$scene/scene.dat" ] || [ ! -s "$scene/sil/view23.txt" ] || [ ! -s "$scene/scene.png" ]; then
    "$here/build/make_sample_scene" "$scene"
  fi
  set -- -c "$scene/scene.dat" "$scene/scene.tri"
fi
exec "$here/build/Viewer" "$@"
