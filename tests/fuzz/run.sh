#!/usr/bin/env bash
# Builds the libFuzzer harnesses in build-fuzz/ (clang, AddressSanitizer, UBSan) and runs each
# tests/fuzz/<name>_fuzz.cpp for SECONDS (default 60), two at a time. Called by ./test.sh --fuzz.
#   corpus:   build-fuzz/corpus/<name>/, grown from the committed seeds in tests/fuzz/seeds/<name>/
#             (the seeds folder is only read)
#   findings: build-fuzz/findings/<name>/ (the inputs that crashed, leaked or hung)
#   logs:     build-fuzz/logs/<name>.log
# Exits non-zero when any harness found something.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-60}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: ./test.sh --fuzz [SECONDS]" >&2
  exit 2
fi
parallel=${VELMORA_FUZZ_JOBS:-2}
tree=build-fuzz

cmake -S . -B "$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$tree" --target fuzz_harnesses -j "$(nproc)"

names=()
for src in tests/fuzz/*_fuzz.cpp; do
  names+=("$(basename "$src" _fuzz.cpp)")
done

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Leaks inside system libraries (Assimp among them) are theirs: the same list as the sanitizer run.
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0"
mkdir -p "$tree/logs"

run_one() {
  local name=$1
  local corpus="$tree/corpus/$name" findings="$tree/findings/$name"
  mkdir -p "$corpus" "$findings"
  local dirs=("$corpus")
  [ -d "tests/fuzz/seeds/$name" ] && dirs+=("tests/fuzz/seeds/$name")
  rm -f "$tree/logs/$name.status"
  # The harnesses' scratch files go to a folder of the run's own: a crash skips their cleanup.
  local scratch="$PWD/$tree/tmp/$name"
  mkdir -p "$scratch"
  local rc=0
  # -close_fd_mask=3 silences what the readers print; libFuzzer and the sanitizers still report.
  # The largest single block a reader may take is a whole image of MAX_PIXELS pixels at four
  # bytes (the TIFF raster): 1 GiB; anything bigger is reported as a finding. A file of a
  # hundred bytes can still be a valid picture of a hundred million pixels (arithmetic-coded
  # JPEG pads its data with zeros), which takes several seconds under the sanitizers: an input
  # counts as hung only after 30 s.
  TMPDIR="$scratch" "$tree/tests/fuzz/$name" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 \
    -malloc_limit_mb=1100 \
    -print_final_stats=1 -close_fd_mask=3 -artifact_prefix="$findings/" "${dirs[@]}" \
    >"$tree/logs/$name.log" 2>&1 || rc=$?
  rm -rf "$scratch"
  echo "$rc" >"$tree/logs/$name.status"
}

echo "fuzz: ${#names[@]} harnesses, ${seconds} s each, $parallel at a time"
for name in "${names[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do
    wait -n || true
  done
  run_one "$name" &
done
wait

status=0
clean=0
for name in "${names[@]}"; do
  log="$tree/logs/$name.log"
  rc=$(cat "$tree/logs/$name.status" 2>/dev/null || echo 1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  [ -n "$runs" ] || runs=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
  if [ "$rc" = 0 ]; then
    verdict="clean"
    clean=$((clean + 1))
  else
    status=1
    finding=$(sed -n 's/.*Test unit written to //p' "$log" | tail -n 1)
    verdict="FOUND: ${finding:-nothing written, exit status $rc} (log: $log)"
  fi
  printf '  %-16s %12s runs  %s\n' "$name" "${runs:-0}" "$verdict"
done
echo "fuzz: $clean passed, $((${#names[@]} - clean)) failed"
exit $status
