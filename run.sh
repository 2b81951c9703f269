#!/usr/bin/env bash
# Starts the viewer, setting up and building first when it is not built yet.
#   ./run.sh [Viewer arguments]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ ! -x "$here/build/Viewer" ]; then
  "$here/setup.sh"
fi
exec "$here/build/Viewer" "$@"
