#!/usr/bin/env bash
# Installs what is needed, builds and runs every test: once optimised, once
# with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

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
(cd "$ROOT/build" && ctest --output-on-failure -j "$JOBS")

echo "== Sanitizer build (build-asan/)"
cmake -S "$ROOT" -B "$ROOT/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON
cmake --build "$ROOT/build-asan" -j "$JOBS"
(cd "$ROOT/build-asan" && ctest --output-on-failure -j "$JOBS")

echo "== Short fuzz run of the protocol's session loops (build-fuzz/)"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-5}"

echo "== All tests passed"
