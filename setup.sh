#!/usr/bin/env bash
# Installs what the project needs, configures the build and builds.
# Safe to run again: it only installs what is missing and rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  build-essential cmake pkg-config ccache
  libgtk2.0-dev libgtkgl2.0-dev
  libgl-dev libglu1-mesa-dev libegl-dev libgl1-mesa-dri
  libpng-dev libjpeg62-turbo-dev libtiff-dev zlib1g-dev
  curl xfonts-base
  xvfb xauth xdotool
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  assimp-utils libassimp-dev imagemagick
  f3d time ghostscript
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
  nlohmann-json3-dev
  libzstd-dev zstd libdeflate-dev libwebp-dev libzip-dev libcurl4-openssl-dev libbrotli-dev nginx-light
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# "./setup.sh --packages" stops here, for callers that build a tree of their own.
[ "${1:-}" = "--packages" ] && exit 0

# build/ has one configuration, whoever makes it (./run.sh, ./test.sh or by hand), so that
# neither rebuilds what the other built. The other trees (build-asan/, build-tsan/) say theirs.
BUILD_DIR=${VELMORA_BUILD_DIR:-build}
BUILD_TYPE=${VELMORA_BUILD_TYPE:-Release}
EXTRA_CMAKE=${VELMORA_CMAKE_ARGS:-}
# Targets to build (default: everything).
TARGETS=${VELMORA_BUILD_TARGETS:-}

# shellcheck disable=SC2086
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" $EXTRA_CMAKE >/dev/null
# shellcheck disable=SC2086
cmake --build "$BUILD_DIR" -j "$(nproc)" ${TARGETS:+--target $TARGETS}
