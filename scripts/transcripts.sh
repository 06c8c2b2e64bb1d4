#!/usr/bin/env bash
# Records what the handset sees in a fixed set of end-to-end runs, so that a
# change meant to keep the bytes on the wire can be checked byte for byte:
#
#   bash scripts/transcripts.sh build /tmp/before      # on the old code
#   bash scripts/transcripts.sh build /tmp/after       # on the new code
#   diff -r /tmp/before /tmp/after
#
# Each run starts a fresh simulator (empty flash) as COM9 in a scratch
# settings folder and drives it with vantrel-cli. The simulator's transcript
# is normalised, with a checksum of the flash it ends with: times, line rates
# and the port events whose moment depends on scheduling (opens, purges,
# closes, switch-ons with their BOOT byte) are dropped, and the bytes of one
# direction are joined until the other side speaks, because how a stream is
# cut into reads depends on scheduling, not on the protocol.
# TRANSCRIPTS_ONLY=PATTERN runs only the runs whose name matches (shell glob).
# The raw transcripts stay in OUT/raw/.
set -euo pipefail
BUILD=${1:?usage: transcripts.sh BUILD_DIR OUT_DIR}
OUT=${2:?usage: transcripts.sh BUILD_DIR OUT_DIR}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$BUILD" && pwd)
CLI="$BUILD/cli/vantrel-cli"
SIM="$BUILD/sim/vantrel-sim"
[ -x "$CLI" ] && [ -x "$SIM" ] || { echo "build vantrel-cli and vantrel-sim in $BUILD first" >&2; exit 2; }
# Where the tool can follow the simulator (link/SimulatedLine.h), its scaled
# pauses end only once the simulator has taken in what it was sent, so a busy
# machine cannot change what the handset sees. The bytes are the same either way.
FOLLOW=()
if "$CLI" --help 2>/dev/null | grep -q -- --follow-simulator; then FOLLOW=(--follow-simulator); fi
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-transcripts.XXXXXX")
export XDG_CONFIG_HOME="$SCRATCH/config" XDG_DATA_HOME="$SCRATCH/data"
unset VANTREL_PAYLOAD_DIR
mkdir -p "$XDG_CONFIG_HOME/vantrel-downloader" "$XDG_DATA_HOME"
SIM_PID=""
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

# Deterministic image files: a record file (three records at the image set's
# addresses) and plain files.
python3 - "$SCRATCH" "$ROOT/tests/wine" <<'PY'
import struct, sys
d = sys.argv[1]
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, sys.argv[2])
from imgset import data  # the Wine tests' pseudo-random bytes
def records(layout, seed):
    return b"".join(struct.pack("<II", a, n) + data(n, seed + a) for a, n in layout)
open(f"{d}/imgset.img", "wb").write(records([(0x4A0000, 0x20000), (0x4C0000, 0x4000), (0x4E0000, 0x2000)], 1))
open(f"{d}/calset.img", "wb").write(records([(0x240000, 0x3000), (0x260000, 0x1000)], 2))
open(f"{d}/rsrc1.img", "wb").write(records([(0x2000000, 0x6000)], 3))
open(f"{d}/rsrc2.img", "wb").write(records([(0x4600000, 0x5000)], 4))
open(f"{d}/fs.img", "wb").write(data(0x7000, 5))
open(f"{d}/plain.img", "wb").write(data(0x9000, 6))
PY

normalise() {
  # "   12.345 host> 01 02 ...  [host 115200, handset 115200]  " -> "host> 0102..."
  awk '
    function flush() { if (dir != "") print dir, buf; dir = ""; buf = "" }
    {
      line = $0
      sub(/^ *[0-9]+\.[0-9]+ +/, "", line)
      # When the host opens, purges and closes the port, and so when a
      # simulated switch-on (and its BOOT byte) falls, depends on scheduling.
      if (line ~ /^-- +(handset simulator on|host purged|host opened|host closed|switch-on dropped|power on|a host that does not claim)/) next
      if (line ~ /^<hand A5 *(\[|$)/) next
      if (line ~ /^(host>|<hand) /) {
        d = substr(line, 1, 5); rest = substr(line, 7)
        sub(/ *\[host [0-9]+, handset [0-9]+\].*$/, "", rest)
        gsub(/ /, "", rest)
        if (d != dir) { flush(); dir = d }
        buf = buf rest
      } else { flush(); print line }
    }
    END { flush() }'
}

run() {  # run NAME SIM-OPTIONS -- CLI-ARGS
  local name=$1; shift
  case "$name" in ${TRANSCRIPTS_ONLY:-*}) ;; *) return 0 ;; esac
  local simargs=()
  while [ "$1" != "--" ]; do simargs+=("$1"); shift; done
  shift
  local tx="$SCRATCH/$name.raw" state="$SCRATCH/state-$name"
  mkdir -p "$state"
  "$SIM" --com 9 --time-scale 0 --state-dir "$state" --transcript "$tx" "${simargs[@]}" >"$SCRATCH/sim.out" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 100); do [ -e "$XDG_CONFIG_HOME/vantrel-downloader/COM9" ] && break; sleep 0.05; done
  local rc=0
  (cd "$SCRATCH" && "$CLI" --no-color --no-progress -y --pause-scale 0.1 --poll-scale 0.2 "${FOLLOW[@]}" -p COM9 "$@") \
    >"$OUT/$name.cli" 2>&1 || rc=$?
  kill "$SIM_PID" 2>/dev/null || true
  wait "$SIM_PID" 2>/dev/null || true
  SIM_PID=""
  rm -f "$XDG_CONFIG_HOME/vantrel-downloader/COM9"
  # Elapsed times in the CLI's log differ from run to run, and so does the
  # padding that right-aligns them.
  sed -i -E 's/ *[0-9]+(\.[0-9]+)? ?(ms|s|sec|seconds)\b/ <t>/g; s/[0-9.]+ ?[KM]?B\/s/<rate>/g' "$OUT/$name.cli"
  sed -i "s|$SCRATCH|<scratch>|g" "$OUT/$name.cli"
  echo "exit $rc" >>"$OUT/$name.cli"
  mkdir -p "$OUT/raw" && cp "$tx" "$OUT/raw/$name.txt"
  normalise <"$tx" >"$OUT/$name.wire"
  # Long byte runs are shortened in the transcript; the flash the handset
  # keeps shows what those bytes wrote.
  (cd "$state" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum) >>"$OUT/$name.wire"
  printf '%-28s exit %d, %d wire lines\n' "$name" "$rc" "$(wc -l <"$OUT/$name.wire")"
}

S=$SCRATCH
run uart-connect -- connect
run uart-imgset -- connect download imgset "$S/imgset.img"
run uart-calset -- connect download calset "$S/calset.img"
run uart-rsrc -- connect download rsrc1 "$S/rsrc1.img" download rsrc2 "$S/rsrc2.img"
run uart-fs -- connect download fs "$S/fs.img"
run uart-nand-manual -- connect download nand "$S/plain.img" 600000
run uart-nor-manual -- connect download nor "$S/plain.img" 100000
run uart-all -- --imgset "$S/imgset.img" --rsrc1 "$S/rsrc1.img" --rsrc2 "$S/rsrc2.img" --fs "$S/fs.img" connect download all
run uart-auto-all -- --imgset "$S/imgset.img" --rsrc1 "$S/rsrc1.img" --rsrc2 "$S/rsrc2.img" --fs "$S/fs.img" auto-all
run uart-bootloader -- bootloader
run uart-erase -- connect erase all erase boot nand-erase 4A0000 4BFFFF
run uart-dumps -- connect download imgset "$S/imgset.img" nand-dump 4A0000 4BFFFF "$S/n.dmp" nor-dump 0 20000 "$S/r.dmp"
run uart-formats -- connect vlf-format nor-format pzl-format
run uart-raw -- connect raw-readback
run uart-rate921 -- -b 921K connect download imgset "$S/imgset.img" download rsrc1 "$S/rsrc1.img"
run usb-connect --usb -- --usb connect
run usb-imgset --usb -- --usb connect download imgset "$S/imgset.img" download fs "$S/fs.img"
run usb-dump-erase --usb -- --usb connect nand-dump 4A0000 4BFFFF "$S/u.dmp" erase all
# NOR and NAND work taking turns: each job first makes the other flash's loader give way.
run uart-loader-turns -- connect download nor "$S/plain.img" 100000 download imgset "$S/imgset.img" nor-dump 0 20000 "$S/r2.dmp" erase all nor-dump 0 20000 "$S/r3.dmp" nand-dump 4A0000 4BFFFF "$S/n2.dmp" nor-dump 0 20000 "$S/r4.dmp" erase boot nor-dump 0 20000 "$S/r5.dmp" download rsrc1 "$S/rsrc1.img"
