#!/usr/bin/env bash
# Runs the Win32 serial smoke program under Wine against the Linux handset
# simulator, whose pseudo-terminal becomes COM7 of the Wine prefix:
#   serial-smoke.sh VANTREL_SIM SMOKE_EXE [WINE]
# WINEPREFIX must name a scratch prefix (scripts/build-windows.sh makes one).
set -euo pipefail
SIM=${1:?usage: serial-smoke.sh VANTREL_SIM SMOKE_EXE [WINE]}
EXE=${2:?usage: serial-smoke.sh VANTREL_SIM SMOKE_EXE [WINE]}
WINE=${3:-wine}
WINE_TEST=serial-smoke.sh
. "$(dirname "$0")/sims.sh"
start_sims "$SIM" 7
if ! "$WINE" "$EXE" COM7; then
  echo "--- simulator transcript" >&2
  cat "$SCRATCH/sim7/transcript" >&2 || true
  exit 1
fi
