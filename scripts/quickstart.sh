#!/usr/bin/env bash
# One-command quick start: installs what is needed, builds, starts the handset
# simulator as a COM port, and runs a complete session against it with
# vantrel-cli: connect, download a demo image set, read the same range back
# and compare. With a display it then opens the window on the simulator's
# port, so that you can press START yourself.
#
# Everything happens in a scratch settings folder: your own settings and COM
# links are left alone. Environment knobs:
#   QUICKSTART_COM=7          COM number the simulator takes (default 7)
#   QUICKSTART_RATE=921K      line rate of the demo (115K, 460K, 921K)
#   QUICKSTART_PAUSE_SCALE=1  protocol pauses at this fraction of real time
#                             (1 = as with a real handset; the demo takes about a minute)
#   QUICKSTART_WINDOW=0       do not open the window even with a display
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

COM=${QUICKSTART_COM:-7}
RATE=${QUICKSTART_RATE:-921K}
PAUSE_SCALE=${QUICKSTART_PAUSE_SCALE:-1}

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

say "Installing what is needed"
bash scripts/install-deps.sh

say "Building (build/)"
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S "$ROOT" -B "$ROOT/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(vantrel-cli vantrel-sim)
with_window=0
if cmake --build "$ROOT/build" --target help 2>/dev/null | grep -q '^vantrel-downloader:'; then
  targets+=(vantrel-downloader)
  with_window=1
fi
cmake --build "$ROOT/build" -j "$JOBS" --target "${targets[@]}"

find_tool() {
  find "$ROOT/build" -type f -name "$1" -perm -u+x ! -path '*/CMakeFiles/*' 2>/dev/null | head -n 1
}
CLI=$(find_tool vantrel-cli)
SIM=${QUICKSTART_SIM:-$(find_tool vantrel-sim)}
WINDOW=$(find_tool vantrel-downloader)

# A scratch settings folder: the simulator's COM link and the window's
# settings live there for the demo only.
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-quickstart.XXXXXX")
export XDG_CONFIG_HOME="$SCRATCH/config"
mkdir -p "$XDG_CONFIG_HOME/vantrel-downloader"
# The simulator knows the built-in payloads only: real payload files
# installed on this machine must not be sent to it.
unset VANTREL_PAYLOAD_DIR
export XDG_DATA_HOME="$SCRATCH/data" XDG_DATA_DIRS="$SCRATCH/data"
SIM_PID=""
cleanup() {
  if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
  fi
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

say "Starting the handset simulator as COM$COM"
sim_args=(--com "$COM")
# Pace the line as a real cable would, where the simulator offers it.
if "$SIM" --help 2>&1 | grep -q -- '--pace\b'; then sim_args+=(--pace); fi
"$SIM" "${sim_args[@]}" >"$SCRATCH/sim.log" 2>&1 &
SIM_PID=$!
for _ in $(seq 1 100); do
  [ -e "$XDG_CONFIG_HOME/vantrel-downloader/COM$COM" ] && break
  if ! kill -0 "$SIM_PID" 2>/dev/null; then
    echo "The simulator did not start:" >&2
    cat "$SCRATCH/sim.log" >&2
    exit 1
  fi
  sleep 0.1
done
echo "COM$COM -> $(readlink "$XDG_CONFIG_HOME/vantrel-downloader/COM$COM")"

say "Generating a demo image set"
# An image-set file is a list of records: address and length (32 bits each,
# least significant byte first), then the data. The image-set download writes
# the first three records; here they lie back to back from 0x4A0000.
le32() {
  local v=$1
  printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $(((v >> 8) & 255)))"
  printf "\\x$(printf %02x $(((v >> 16) & 255)))\\x$(printf %02x $(((v >> 24) & 255)))"
}
IMG="$SCRATCH/demo_imgset.img"
EXPECT="$SCRATCH/expected.bin"
: >"$IMG"
: >"$EXPECT"
addr=$((0x4A0000))
for len in $((0x20000)) $((0x10000)) $((0x8000)); do
  head -c "$len" /dev/urandom >"$SCRATCH/record.bin"
  { le32 "$addr"; le32 "$len"; cat "$SCRATCH/record.bin"; } >>"$IMG"
  cat "$SCRATCH/record.bin" >>"$EXPECT"
  addr=$((addr + len))
done
FROM=$((0x4A0000))
TO=$((addr - 1))
printf '%s: %d bytes in 3 records for NAND 0x%X..0x%X\n' "$IMG" "$(stat -c %s "$IMG")" "$FROM" "$TO"

say "Running a session with vantrel-cli"
if [ "$PAUSE_SCALE" != "1" ]; then
  echo "(the protocol's pauses run at $PAUSE_SCALE of real time for this demo)"
fi
DUMP="$SCRATCH/readback.dmp"
session=("$CLI" --port "COM$COM" --rate "$RATE" --yes --pause-scale "$PAUSE_SCALE"
  connect
  download imgset "$IMG" --verify
  nand-dump "$(printf %X "$FROM")" "$(printf %X "$TO")" "$DUMP")
echo "\$ ${session[*]}"
started=$SECONDS
"${session[@]}"
echo "(the session took $((SECONDS - started)) s)"

say "Result"
if cmp -s "$DUMP" "$EXPECT"; then
  printf 'PASS: the %d bytes read back from NAND 0x%X..0x%X equal the image set.\n' \
    "$(stat -c %s "$EXPECT")" "$FROM" "$TO"
else
  echo "FAIL: the flash read back differs from the image set:" >&2
  cmp "$DUMP" "$EXPECT" >&2 || true
  exit 1
fi

if [ "${QUICKSTART_WINDOW:-1}" = "0" ] || [ "$with_window" = 0 ] || [ -z "$WINDOW" ]; then
  exit 0
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: skipping the window. On a desktop, the window opens here on COM$COM."
  exit 0
fi

say "Opening the window on COM$COM"
# The handset goes back to its boot ROM, as after switching it off and on.
kill -USR2 "$SIM_PID" 2>/dev/null || true
cat >"$XDG_CONFIG_HOME/vantrel-downloader/vantrel-downloader.INI" <<EOF
[FennikDL]
UartPort=$((COM - 1))
m_nBaudRate=2
m_strImageFileName=$IMG
EOF
echo "Choose \" by UART\", press START, then pick the Imgset row and DOWNLOAD."
echo "Close the window to end the demo."
"$WINDOW"
