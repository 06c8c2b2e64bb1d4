#!/usr/bin/env bash
# The Windows figure: the same image-set download at 921600 bit/s, once by the
# Linux vantrel-cli and once by vantrel-cli.exe through Wine, each against a
# fresh simulator that paces the line at its rate (with the handset's own
# delays), in one run on one machine. Prints each download's time and
# efficiency (the image's bits over the bits the line could carry in that
# time) and Wine's efficiency against native.
#
#   wine-download.sh VANTREL_SIM LINUX_CLI WINDOWS_CLI_EXE [MiB]
#
# Runs in a scratch Wine prefix that it removes at the end. The time is the
# download's, from its phase event to the end of its operation, as the
# program's JSON events arrive: the connect before it (boot ROM, loaders at
# the boot rate) is the same for both and would only hide the difference.
set -euo pipefail
SIM=${1:?usage: wine-download.sh VANTREL_SIM LINUX_CLI WINDOWS_CLI_EXE [MiB]}
LINUX_CLI=${2:?usage: wine-download.sh VANTREL_SIM LINUX_CLI WINDOWS_CLI_EXE [MiB]}
EXE=${3:?usage: wine-download.sh VANTREL_SIM LINUX_CLI WINDOWS_CLI_EXE [MiB]}
MIB=${4:-8}
RATE=921600

export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-wine-bench.XXXXXX")
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p > /dev/null 2>&1
wine cmd /c exit > /dev/null 2>&1
WINE_TEST=wine-bench
# shellcheck source=../tests/wine/sims.sh
. "$(dirname "$0")/../tests/wine/sims.sh"
trap 'stop_sims; wineserver -k > /dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT

# An image set of 128 KiB records filling MIB MiB of NAND.
python3 - "$SCRATCH/imgset.img" "$MIB" <<'PY'
import os, struct, sys
path, mib = sys.argv[1], float(sys.argv[2])
total, at, out = int(mib * 0x100000), 0x4A0000, bytearray()
while total > 0:
    n = min(0x20000, total)
    out += struct.pack("<II", at, n) + os.urandom(n)
    at, total = at + n, total - n
open(path, "wb").write(out)
PY
payload=$(python3 -c "import os,sys; print(os.path.getsize(sys.argv[1]))" "$SCRATCH/imgset.img")

SIM_ARGS=(--pace)
# Prints the seconds from the download's start (its phase event) to the end
# of its operation, timed as the program's JSON events arrive.
STAMP='
import json, sys, time
start = end = None
for line in sys.stdin:
    try: e = json.loads(line)
    except ValueError: continue
    if e.get("event") == "phase" and e.get("phase") == "download" and start is None: start = time.monotonic()
    if e.get("event") == "operation" and e.get("phase") == "end" and e.get("op", "").startswith("download"):
        end = time.monotonic()
        if not e.get("ok"): sys.exit("the download failed: " + json.dumps(e))
if start is None or end is None: sys.exit("no download in the events")
print(f"{end - start:.3f}")
'
run() {  # run NAME COM COMMAND...: prints the download's seconds
  local name=$1 com=$2
  shift 2
  if ! "$@" 2> "$SCRATCH/$name.err" | python3 -c "$STAMP" 2>> "$SCRATCH/$name.err"; then
    echo "wine-download.sh: the $name run failed:" >&2
    tail -n 30 "$SCRATCH/$name.err" >&2
    tail -n 30 "$SCRATCH/sim$com/transcript" >&2 || true
    exit 1
  fi
}

start_sims "$SIM" 7 8
linux_dev=$(readlink "$WINEPREFIX/dosdevices/com7")
native=$(run linux 7 env XDG_CONFIG_HOME="$SCRATCH/linux-config" XDG_DATA_HOME="$SCRATCH/linux-data" \
  "$LINUX_CLI" --json -y -b 921K -p "$linux_dev" connect download imgset "$SCRATCH/imgset.img")
wine=$(run wine 8 wine "$EXE" --json -y -b 921K -p COM8 connect download imgset "Z:$SCRATCH/imgset.img")

python3 - "$payload" "$RATE" "$native" "$wine" <<'PY'
import sys
payload, rate, native, wine = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
def eff(t): return payload * 10 / (rate * t)  # 8N1: ten bits on the line per byte
print(f"Windows figure: download of an image set of {payload} bytes at {rate} bit/s, simulator pacing the line")
print(f"  native Linux vantrel-cli       {native:8.2f} s   efficiency {eff(native):.3f}")
print(f"  vantrel-cli.exe through Wine   {wine:8.2f} s   efficiency {eff(wine):.3f}")
print(f"  Wine against native            {native / wine:.3f}   (target at least 0.98)")
PY
