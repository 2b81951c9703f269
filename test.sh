#!/usr/bin/env bash
# Sets up when needed, builds, and runs every test. Exits non-zero on any failure.
#   ./test.sh              the Release tree in build/
#   ./test.sh --sanitize   a second tree in build-asan/ with AddressSanitizer and UBSan
#   ./test.sh --thread     a tree in build-tsan/ with ThreadSanitizer: the tests of the code
#                          that runs threads (label "thread", see tests/CMakeLists.txt)
#   ./test.sh --fuzz [SECONDS]   the libFuzzer harnesses in build-fuzz/, each run SECONDS
#                          (default 60); see tests/fuzz/run.sh
# Any further arguments go to ctest (for example -R Matrix or -L gl).
set -euo pipefail
cd "$(dirname "$0")"

if [ "${1:-}" = "--fuzz" ]; then
  shift
  ./setup.sh --packages
  exec tests/fuzz/run.sh "$@"
fi

if [ "${1:-}" = "--thread" ]; then
  shift
  ./setup.sh --packages
  export VELMORA_BUILD_DIR=build-tsan VELMORA_BUILD_TYPE=RelWithDebInfo
  export VELMORA_CMAKE_ARGS="-DVELMORA_TSAN=ON -DVELMORA_BUILD_BENCH=OFF"
  export VELMORA_BUILD_TARGETS=velmora_thread_tests
  ./setup.sh
  # Mesa's software renderer draws on the calling thread: its own workers are not built with
  # ThreadSanitizer, and their fences would be reported as races of the tests that draw.
  export LP_NUM_THREADS=0
  export TSAN_OPTIONS="second_deadlock_stack=1"
  cd build-tsan
  exec env -u DISPLAY ctest --output-on-failure -j "$(nproc)" -L thread "$@"
fi

if [ "${1:-}" = "--sanitize" ]; then
  shift
  export VELMORA_BUILD_DIR=build-asan
  export VELMORA_BUILD_TYPE=RelWithDebInfo
  export VELMORA_CMAKE_ARGS="-DVELMORA_SANITIZE=ON -DVELMORA_BUILD_BENCH=OFF"
  supp="$PWD/tests/sanitizer/lsan.supp"
  # intercept_tls_get_addr=0: the leak checker's tracer otherwise walks the dynamic TLS blocks
  # of Mesa's driver, misreads them with this glibc and crashes at the exit of runs that leak
  # nothing (depending on where the heap lies). Our own thread_local data is static TLS, which
  # is still scanned; only the driver's dynamic blocks go unseen, and its leaks are suppressed.
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:intercept_tls_get_addr=0"
  export LSAN_OPTIONS="suppressions=$supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
else
  export VELMORA_BUILD_DIR=build
fi

./setup.sh
cd "$VELMORA_BUILD_DIR"

jobs=$(nproc)
status=0
# Tests that need no display run without one, so a hidden dependency on X shows up here.
env -u DISPLAY ctest --output-on-failure -j "$jobs" -LE x11 "$@" || status=1
# Tests that need a display run under a private X server.
if ctest -N -L x11 "$@" | grep -q 'Total Tests: [1-9]'; then
  xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ctest --output-on-failure -L x11 "$@" || status=1
fi
exit $status
