#!/usr/bin/env bash
# Builds an optimised tree (build-bench/) and runs the benchmarks: the image-set
# download against the simulator pacing at the line rate (efficiency, host CPU,
# answer turnaround), and, when the window is built, the message log and the
# window's start-up. Prints the figures and the machine they came from.
#
#   bash scripts/bench.sh            # the documented run: 8 MiB at 115200 and 921600 (about 16 minutes)
#   bash scripts/bench.sh --quick    # 2 MiB image set, for development
#   bash scripts/bench.sh --rate 921600
#   bash scripts/bench.sh station [--quick]   # the station alone: scale (1 to 32 handsets) and soak
#   bash scripts/bench.sh station --scale-only --handsets 1,16,32   # some of the scale rows only
#   bash scripts/bench.sh windows [--quick]   # the Windows figure alone
#
# The station benchmark (vantrel-bench-station) follows the download benchmark:
# 1, 2, 4, 8, 16 and 32 handsets at 921600 bit/s at once, then 200 connect +
# download + verify cycles in one station run (about 25 minutes; with --quick
# about 5).
#
# The Windows figure comes last: a 2 MiB image-set download at 921600 bit/s by
# vantrel-cli.exe through Wine against the same by the Linux program, in one
# run (bench/wine-download.sh; the Windows build comes from
# scripts/build-windows.sh --no-tests). It is left out, saying so, where
# MinGW-w64 or Wine is missing.
#
# BUILD_DIR overrides the build folder. Other arguments go to vantrel-bench.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${BUILD_DIR:-$ROOT/build-bench}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
station_only=false
windows_only=false
if [ "${1:-}" = station ]; then
  station_only=true
  shift
elif [ "${1:-}" = windows ]; then
  windows_only=true
  shift
fi
station_args=()
for a in "$@"; do
  if [ "$a" = --quick ]; then station_args+=(--quick); fi
done
targets=(vantrel-bench vantrel-sim vantrel-bench-station vantrel-station vantrel-cli)
if cmake --build "$BUILD" --target help | grep -q '^vantrel-bench-console:'; then
  # The start-up figure times the window program itself.
  targets+=(vantrel-bench-console vantrel-downloader)
fi
cmake --build "$BUILD" -j "$JOBS" --target "${targets[@]}"

echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(uname -sr)"
echo "Load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Command: scripts/bench.sh $*"

export XDG_CONFIG_HOME="$(mktemp -d)"
export XDG_DATA_HOME="$XDG_CONFIG_HOME/data"
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT

windows_figure() {
  if ! command -v wine > /dev/null || ! command -v x86_64-w64-mingw32-g++-posix > /dev/null; then
    echo "Windows figure: left out (needs MinGW-w64 and Wine: bash scripts/build-windows.sh installs them)"
    return 0
  fi
  local mib=2
  for a in "${station_args[@]}"; do [ "$a" = --quick ] && mib=0.5; done
  bash "$ROOT/scripts/build-windows.sh" --no-tests > "$XDG_CONFIG_HOME/build-windows.log" 2>&1 ||
    { tail -n 30 "$XDG_CONFIG_HOME/build-windows.log"; return 1; }
  bash "$ROOT/bench/wine-download.sh" "$BUILD/sim/vantrel-sim" "$BUILD/cli/vantrel-cli" \
    "$ROOT/build-win/cli/vantrel-cli.exe" "$mib"
}

if $windows_only; then
  windows_figure
  exit
fi

if $station_only; then
  "$BUILD/bench/vantrel-bench-station" "$@"
  echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
  exit
fi

if [ -x "$BUILD/bench/vantrel-bench-console" ]; then
  QT_QPA_PLATFORM=offscreen "$BUILD/bench/vantrel-bench-console"
fi
"$BUILD/bench/vantrel-bench" --sim "$BUILD/sim/vantrel-sim" "$@"
"$BUILD/bench/vantrel-bench-station" "${station_args[@]}"
windows_figure
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
