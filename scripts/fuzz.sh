#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one, the handset's side
# of the line replaced by fuzz input.
#
#   scripts/fuzz.sh [seconds per target]     (default 10)
#
# Each target keeps its corpus in build-fuzz/corpus/<target> between runs and
# starts from the seeds in protocol/fuzz/seeds/<target>. Any crash, hang past
# the time-out or sanitizer report fails the script; the reproducer is left in
# build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
PER_TARGET=${1:-10}
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

TARGETS=(fuzz_download_image fuzz_image_set fuzz_boot2 fuzz_image_set_usb fuzz_file_usb
         fuzz_nor_image fuzz_dump fuzz_format_vlf fuzz_flash_driver)

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVANTREL_FUZZ=ON -DVANTREL_BUILD_TESTS=OFF -DVANTREL_BUILD_GUI=OFF >/dev/null
cmake --build "$BUILD" --target fuzzers -j "$JOBS"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$BUILD/artifacts"
failed=0
for t in "${TARGETS[@]}"; do
  corpus="$BUILD/corpus/$t"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$ROOT/protocol/fuzz/seeds/$t" ] && seeds=("$ROOT/protocol/fuzz/seeds/$t")
  log="$BUILD/$t.log"
  if "$BUILD/protocol/fuzz/$t" -max_total_time="$PER_TARGET" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$t-" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    echo "fuzz $t: ${runs:-?} runs, ${cov:-cov: ?}, no findings"
  else
    echo "fuzz $t: FAILED (see $log)"
    tail -40 "$log"
    failed=1
  fi
done
exit $failed
