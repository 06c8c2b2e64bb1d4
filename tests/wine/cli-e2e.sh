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
python3 "$(dirname "$0")/imgset.py" write "$SCRATCH/imgset.img"

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

python3 - "$SCRATCH" "$LOG_DIR/history.jsonl" "$(dirname "$0")" <<'PY'
import json, sys
d, log = sys.argv[1], sys.argv[2]
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, sys.argv[3])
import imgset
records = imgset.records(f"{d}/imgset.img")
bad = imgset.differing(f"{d}/state", f"{d}/imgset.img")
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
