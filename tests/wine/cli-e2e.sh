#!/usr/bin/env bash
# vantrel-cli.exe under Wine against the Linux handset simulator, whose
# pseudo-terminal becomes COM7 of the Wine prefix: connect, download imgset
# with --verify, nand-dump. The simulator's NAND and the dump must hold the
# image's bytes, and the run must leave its record in the station log.
#   cli-e2e.sh VANTREL_SIM CLI_EXE [WINE]
# WINEPREFIX must name a scratch prefix (scripts/build-windows.sh makes one).
set -euo pipefail
SIM=${1:?usage: cli-e2e.sh VANTREL_SIM CLI_EXE [WINE]}
EXE=${2:?usage: cli-e2e.sh VANTREL_SIM CLI_EXE [WINE]}
WINE=${3:-wine}
WINE_TEST=wine-cli
# shellcheck source=sims.sh
. "$(dirname "$0")/sims.sh"

# An image set of three records in NAND.
python3 - "$SCRATCH/imgset.img" <<'PY'
import struct, sys
def data(n, seed):
    s, out = seed, bytearray(n)
    for i in range(n):
        s = (s * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (s >> 16) & 0xFF
    return bytes(out)
layout = [(0x4A0000, 0x20000), (0x4C0000, 0x4000), (0x4E0000, 0x2000)]
open(sys.argv[1], "wb").write(b"".join(struct.pack("<II", a, n) + data(n, a) for a, n in layout))
PY

SIM_ARGS=(--time-scale 0 --state-dir "$SCRATCH/state")
mkdir -p "$SCRATCH/state"
start_sims "$SIM" 7

# The program's own folders (settings, station log) are the prefix's, which
# the build script removes; the files it reads and writes are named through
# Wine's Z: drive.
LOG_DIR="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/vantrel-downloader"
rm -f "$LOG_DIR/history.jsonl"
status=0
"$WINE" "$EXE" --no-color --no-progress -y -b 921K -p COM7 connect download imgset "Z:$SCRATCH/imgset.img" --verify \
  nand-dump 4A0000 4C3FFF "Z:$SCRATCH/nand.dmp" > "$SCRATCH/cli.out" 2>&1 || status=$?
cat "$SCRATCH/cli.out"
if [ "$status" -ne 0 ]; then
  echo "cli-e2e.sh: vantrel-cli.exe exited with $status; the simulator's transcript:" >&2
  tail -n 60 "$SCRATCH/sim7/transcript" >&2 || true
  exit 1
fi

python3 - "$SCRATCH" "$LOG_DIR/history.jsonl" <<'PY'
import json, struct, sys
d, log = sys.argv[1], sys.argv[2]
image = open(f"{d}/imgset.img", "rb").read()
records, at = [], 0
while at < len(image):
    address, length = struct.unpack_from("<II", image, at)
    records.append((address, image[at + 8:at + 8 + length]))
    at += 8 + length
def flash(address, length):
    # The simulator keeps its flash inverted, so that holes read as erased.
    with open(f"{d}/state/nand.flash", "rb") as f:
        f.seek(address)
        return bytes(b ^ 0xFF for b in f.read(length))
bad = [hex(a) for a, data in records if flash(a, len(data)) != data]
dump = open(f"{d}/nand.dmp", "rb").read()
expected = records[0][1] + records[1][1]  # 4A0000..4BFFFF, then 4C0000..4C3FFF
problems = []
if bad: problems.append(f"the simulator's NAND differs from the image at {', '.join(bad)}")
if dump != expected: problems.append(f"the dump ({len(dump)} bytes) differs from the image ({len(expected)} bytes)")
lines = [json.loads(l) for l in open(log, encoding="utf-8") if l.strip()]
if len(lines) != 1 or lines[0].get("result") != "ok" or lines[0].get("port") != "COM7":
    problems.append(f"the station log holds {lines!r}, not one record of a good run on COM7")
for p in problems: print("FAILED:", p)
if problems: sys.exit(1)
print(f"ok: NAND and dump match the image ({sum(len(r[1]) for r in records)} bytes written, {len(dump)} dumped); one record in the station log")
PY
