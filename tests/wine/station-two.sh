#!/usr/bin/env bash
# vantrel-station.exe under Wine with two workers, each against a Linux
# handset simulator whose pseudo-terminal the Wine prefix maps to COM7 and
# COM8: both download an image set with --verify, and both must succeed.
#   station-two.sh VANTREL_SIM STATION_EXE [WINE]
# The station finds vantrel-cli.exe as it does in the build tree. WINEPREFIX
# must name a scratch prefix (scripts/build-windows.sh makes one).
set -euo pipefail
SIM=${1:?usage: station-two.sh VANTREL_SIM STATION_EXE [WINE]}
EXE=${2:?usage: station-two.sh VANTREL_SIM STATION_EXE [WINE]}
WINE=${3:-wine}
WINE_TEST=station-two.sh
. "$(dirname "$0")/sims.sh"
start_sims "$SIM" 7 8

# An image set of three records back to back from NAND 0x4A0000.
le32() {
  local v=$1
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $(((v >> 8) & 255)) $(((v >> 16) & 255)) $((v >> 24)))"
}
IMG="$SCRATCH/imgset.img"
addr=$((0x4A0000))
for len in $((0x20000)) $((0x10000)) $((0x8000)); do
  { le32 "$addr"; le32 "$len"; head -c "$len" /dev/urandom; } >> "$IMG"
  addr=$((addr + len))
done

status=0
"$WINE" "$EXE" --json --port COM7 --port COM8 -- --pause-scale 0.1 --poll-scale 0.2 \
  connect download imgset "Z:$IMG" --verify > "$SCRATCH/events" 2> "$SCRATCH/err" || status=$?
summary=$(grep '"event":"summary"' "$SCRATCH/events" || true)
if [ "$status" -ne 0 ] || ! grep -q '"ok":true' <<< "$summary"; then
  echo "station-two.sh: the station ended with status $status: ${summary:-no summary}" >&2
  tail -n 20 "$SCRATCH/events" "$SCRATCH/err" >&2
  exit 1
fi
echo "station-two.sh: $summary"
