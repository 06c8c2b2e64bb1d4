#!/usr/bin/env bash
# Installs what is needed, builds, and starts the tool.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/install-deps.sh

JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S "$ROOT" -B "$ROOT/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$ROOT/build" -j "$JOBS"

find_tool() {
  find "$ROOT/build" -type f -name "$1" -perm -u+x ! -path '*/CMakeFiles/*' 2>/dev/null | head -n 1
}

window=$(find_tool vantrel-downloader)
if [ -n "$window" ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: start $window from a desktop session (or set QT_QPA_PLATFORM)." >&2
    exit 1
  fi
  exec "$window" "$@"
fi

cli=$(find_tool vantrel-cli)
if [ -n "$cli" ]; then
  echo "The window is not built yet; starting the command line tool $cli"
  exec "$cli" "$@"
fi

echo "Built so far (the window and the command line tool come later):"
for tool in vantrel-sim payload_gen; do
  path=$(find_tool "$tool")
  [ -n "$path" ] && echo "  $path"
done
find "$ROOT/build" -name '*.a' ! -path '*/CMakeFiles/*' | sort | sed 's/^/  /'
