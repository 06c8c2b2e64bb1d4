#!/usr/bin/env bash
# Runs the Win32 serial smoke program under Wine against the Linux handset
# simulator, whose pseudo-terminal becomes COM7 of the Wine prefix:
#   serial-smoke.sh VANTREL_SIM SMOKE_EXE [WINE]
# WINEPREFIX must name a scratch prefix (scripts/build-windows.sh makes one).
set -euo pipefail
SIM=${1:?usage: serial-smoke.sh VANTREL_SIM SMOKE_EXE [WINE]}
EXE=${2:?usage: serial-smoke.sh VANTREL_SIM SMOKE_EXE [WINE]}
WINE=${3:-wine}
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] || {
  echo "serial-smoke.sh: WINEPREFIX must name a Wine prefix (run scripts/build-windows.sh)" >&2
  exit 2
}
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-wine-smoke.XXXXXX")
LINK="$WINEPREFIX/dosdevices/com7"
SIM_PID=""
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi
  rm -f "$LINK"
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

XDG_CONFIG_HOME="$SCRATCH" "$SIM" --transcript "$SCRATCH/transcript" > "$SCRATCH/out" 2>&1 &
SIM_PID=$!
DEVICE=""
for _ in $(seq 100); do
  DEVICE=$(grep -o '^/dev/pts/[0-9]*' "$SCRATCH/out" || true)
  [ -n "$DEVICE" ] && break
  sleep 0.05
done
[ -n "$DEVICE" ] || { echo "serial-smoke.sh: the simulator did not start:" >&2; cat "$SCRATCH/out" >&2; exit 1; }
ln -sfn "$DEVICE" "$LINK"
if ! "$WINE" "$EXE" COM7; then
  echo "--- simulator transcript" >&2
  cat "$SCRATCH/transcript" >&2 || true
  exit 1
fi
