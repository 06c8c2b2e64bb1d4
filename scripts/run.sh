#!/usr/bin/env bash
# Installs what is needed, builds, and starts the tool.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/install-deps.sh

JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S "$ROOT" -B "$ROOT/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$ROOT/build" -j "$JOBS"

if [ -x "$ROOT/build/console/vantrel-downloader" ]; then
  exec "$ROOT/build/console/vantrel-downloader" "$@"
fi
if [ -x "$ROOT/build/cli/vantrel-cli" ]; then
  echo "The window is not built yet; the command line tool is: $ROOT/build/cli/vantrel-cli"
  exec "$ROOT/build/cli/vantrel-cli" "$@"
fi
echo "Built so far (libraries and tests; the window and the command line tool come later):"
find "$ROOT/build" -maxdepth 3 -type f \( -name '*.a' -o -perm -u+x \) ! -path '*/CMakeFiles/*' | sort
