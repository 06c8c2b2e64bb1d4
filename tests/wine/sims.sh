# Sourced by the Wine tests: Linux handset simulators whose pseudo-terminals
# the scratch Wine prefix maps to COM ports, a scratch folder, and a cleanup
# on exit that stops the simulators and removes the links and the folder.
#   WINE_TEST=name; . sims.sh; start_sims SIM 7 8   (simulator N's files: $SCRATCH/simN)
# SIM_ARGS (an array) holds further options for the simulators started next.
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] || {
  echo "$WINE_TEST: WINEPREFIX must name a Wine prefix (run scripts/build-windows.sh)" >&2
  exit 2
}
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-$WINE_TEST.XXXXXX")
SIM_PIDS=()
SIM_LINKS=()
SIM_ARGS=()
stop_sims() {
  for pid in "${SIM_PIDS[@]}"; do kill "$pid" 2> /dev/null || true; wait "$pid" 2> /dev/null || true; done
  rm -f "${SIM_LINKS[@]}"
  rm -rf "$SCRATCH"
}
trap stop_sims EXIT

start_sims() {
  local sim=$1 com device
  shift
  for com in "$@"; do
    mkdir -p "$SCRATCH/sim$com"
    XDG_CONFIG_HOME="$SCRATCH/sim$com" "$sim" "${SIM_ARGS[@]}" --transcript "$SCRATCH/sim$com/transcript" > "$SCRATCH/sim$com/out" 2>&1 &
    SIM_PIDS+=($!)
    device=""
    for _ in $(seq 100); do
      device=$(grep -o '^/dev/pts/[0-9]*' "$SCRATCH/sim$com/out" || true)
      [ -n "$device" ] && break
      sleep 0.05
    done
    [ -n "$device" ] || { echo "$WINE_TEST: simulator $com did not start:" >&2; cat "$SCRATCH/sim$com/out" >&2; exit 1; }
    ln -sfn "$device" "$WINEPREFIX/dosdevices/com$com"
    SIM_LINKS+=("$WINEPREFIX/dosdevices/com$com")
  done
}
