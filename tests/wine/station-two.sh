#!/usr/bin/env bash
# vantrel-station.exe under Wine with two workers, each against a Linux
# handset simulator whose pseudo-terminal the Wine prefix maps to COM7 and
# COM8: both download an image set with --verify, and both must succeed.
# Then Ctrl-C in the middle of two downloads (COM9, COM10, paced as a real
# line): every process of the console gets it, as on Windows, and the
# station ends with both runs interrupted, never done.
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

# An image set of records back to back from NAND 0x4A0000: image_set FILE LENGTH...
le32() {
  local v=$1
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $(((v >> 8) & 255)) $(((v >> 16) & 255)) $((v >> 24)))"
}
image_set() {
  local file=$1 addr=$((0x4A0000)) len
  shift
  for len in "$@"; do
    { le32 "$addr"; le32 "$len"; head -c "$len" /dev/urandom; } >> "$file"
    addr=$((addr + len))
  done
}
IMG="$SCRATCH/imgset.img"
image_set "$IMG" $((0x20000)) $((0x10000)) $((0x8000))

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

# Ctrl-C. Wine turns a SIGINT into the console's Ctrl-C for the process that
# gets it, so each of the station's and its workers' processes (this prefix's
# only) is sent one, as the console would.
SIM_ARGS=(--pace)
start_sims "$SIM" 9 10
BIG="$SCRATCH/big.img"
image_set "$BIG" $((0x100000)) $((0x100000))
"$WINE" "$EXE" --json --port COM9 --port COM10 -- --rate 921K connect download imgset "Z:$BIG" \
  > "$SCRATCH/events2" 2> "$SCRATCH/err2" &
STATION=$!
downloading() { grep '"event":"progress"' "$SCRATCH/events2" | grep -q "\"port\":\"$1\""; }
for _ in $(seq 1200); do
  downloading COM9 && downloading COM10 && break
  sleep 0.1
done
downloading COM9 && downloading COM10 || { echo "station-two.sh: the downloads did not begin" >&2; tail -n 20 "$SCRATCH/events2" "$SCRATCH/err2" >&2; exit 1; }
for pid in $(pgrep -f '^[^ ]*vantrel-(station|cli)\.exe( |$)'); do
  tr '\0' '\n' < "/proc/$pid/environ" 2> /dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && kill -INT "$pid"
done
status=0
wait "$STATION" || status=$?
summary=$(grep '"event":"summary"' "$SCRATCH/events2" || true)
if [ "$status" -ne 130 ] || [ "$(grep -o '"failure":"interrupted"' <<< "$summary" | wc -l)" -ne 2 ]; then
  echo "station-two.sh: after Ctrl-C the station ended with status $status: ${summary:-no summary}" >&2
  tail -n 20 "$SCRATCH/events2" "$SCRATCH/err2" >&2
  exit 1
fi
echo "station-two.sh: Ctrl-C: $summary"
