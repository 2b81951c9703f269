#!/usr/bin/env bash
# Starts the viewer, setting up and building first when it is not built yet.
#   ./run.sh [Viewer arguments]
# Without arguments it opens the sample model, generated into build/ the first time.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ ! -x "$here/build/Viewer" ] || [ ! -x "$here/build/make_sample_mesh" ]; then
  "$here/setup.sh"
fi
if [ $# -eq 0 ]; then
  sample="$here/build/sample.tri"
  # The texture beside it came later: a sample without one is made again.
  if [ ! -s "$sample" ] || [ ! -s "${sample%tri}png" ]; then
    "$here/build/make_sample_mesh" "$sample"
  fi
  set -- "$sample"
fi
exec "$here/build/Viewer" "$@"
