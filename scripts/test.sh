#!/usr/bin/env bash
# Installs what is needed, builds and runs every test: once optimised, once
# with AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   scripts/test.sh               the whole suite, both builds, and a short fuzz run
#   scripts/test.sh --under-load  the optimised build only: the suites that run a
#                                 handset against the clock, three rounds in a row
#                                 on a machine made busy on purpose
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

UNDER_LOAD=0
case "${1:-}" in
  "") ;;
  --under-load) UNDER_LOAD=1 ;;
  *) echo "usage: scripts/test.sh [--under-load]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh

JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1
# Tests must never touch the operator's own settings.
export XDG_CONFIG_HOME="${XDG_CONFIG_HOME_FOR_TESTS:-$(mktemp -d)}"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

echo "== Optimised build (build/)"
cmake -S "$ROOT" -B "$ROOT/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$ROOT/build" -j "$JOBS"

if [ "$UNDER_LOAD" = 1 ]; then
  # A test that only passes on an idle machine fails here, not in somebody
  # else's CI run: the robustness suite, the maintenance and flash-job
  # suites, and the end-to-end and spawned-program suites, three rounds in a
  # row with two busy loops per core. Nothing is skipped or retried.
  SUITES='^(robustness_tests|maintenance_tests|flashjobs_tests|e2e_tests|cli_program_tests|station_tests)$'
  CORES=$(nproc 2>/dev/null || echo 2)
  BUSY=()
  stop_busy() {
    [ ${#BUSY[@]} -eq 0 ] && return 0
    kill "${BUSY[@]}" 2>/dev/null || true
    wait "${BUSY[@]}" 2>/dev/null || true
    BUSY=()
  }
  trap stop_busy EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  for _ in $(seq $((2 * CORES))); do
    (while :; do :; done) &
    BUSY+=($!)
  done
  echo "== Under load: ${#BUSY[@]} busy loops on $CORES cores"
  start=$(date +%s)
  for round in 1 2 3; do
    round_start=$(date +%s)
    (cd "$ROOT/build" && ctest -L "$SUITES" -j "$JOBS" --output-on-failure)
    echo "== Round $round passed in $(($(date +%s) - round_start)) s;" \
      "load average $(cut -d' ' -f1-3 /proc/loadavg)"
  done
  stop_busy
  echo "== Under load: three rounds passed in $(($(date +%s) - start)) s"
  exit 0
fi

(cd "$ROOT/build" && ctest --output-on-failure -j "$JOBS")

echo "== Sanitizer build (build-asan/)"
cmake -S "$ROOT" -B "$ROOT/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON
cmake --build "$ROOT/build-asan" -j "$JOBS"
(cd "$ROOT/build-asan" && ctest --output-on-failure -j "$JOBS")

echo "== Short fuzz run of the protocol's session loops (build-fuzz/)"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-5}"

echo "== All tests passed"
