#!/usr/bin/env bash
# The window and the installer under Wine, on a virtual display (Xvfb):
# 1. the staged vantrel-downloader.exe (what the zip and the installer carry,
#    with its Qt DLLs and plugins beside it) shows itself and saves a picture;
# 2. the window, driven through its controls (window-download.exe), connects
#    to the Linux simulator on COM7 at 921K and downloads the image set; the
#    simulator's NAND must then hold it;
# 3. the installer installs (program folder, Start-menu entry), the installed
#    window starts, an upgrade to a newer version replaces it, and the
#    uninstall removes the program and the entry but leaves the settings.
#   window.sh VANTREL_SIM STAGE_DIR DRIVER_EXE MSI WXS [WINE] [PICTURE]
# PICTURE, when given, receives the window's picture (docs/window-windows.png).
# WINEPREFIX must name a scratch prefix (scripts/build-windows.sh makes one);
# the script runs in a fresh prefix of its own beside it.
set -euo pipefail
usage="usage: window.sh VANTREL_SIM STAGE_DIR DRIVER_EXE MSI WXS [WINE] [PICTURE]"
SIM=${1:?$usage}
STAGE=${2:?$usage}
DRIVER=${3:?$usage}
MSI=${4:?$usage}
WXS=${5:?$usage}
WINE=${6:-wine}
PICTURE=${7:-}
HERE=$(cd "$(dirname "$0")" && pwd)
WINE_TEST=wine-window

fail() {
  echo "window.sh: $*" >&2
  exit 1
}

# A display of its own, and a Wine prefix of its own whose desktop starts on
# that display (under a desktop started without one, a window program spun
# at its exit). The installer's steps then change only this prefix.
[ -n "${WINEPREFIX:-}" ] || fail "WINEPREFIX must name a Wine prefix (run scripts/build-windows.sh)"
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-window-prefix.XXXXXX")
export WINEPREFIX
XVFB_LOG=$(mktemp "${TMPDIR:-/tmp}/vantrel-xvfb.XXXXXX")
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x1024x24 -nolisten tcp > "$XVFB_LOG" 2>&1 &
XVFB=$!
finish() {
  wineserver -k > /dev/null 2>&1 || true
  kill "$XVFB" 2> /dev/null || true
  rm -rf "$WINEPREFIX" "$XVFB_LOG"
}
trap finish EXIT
read -r -t 10 -u "$displayfd" display || fail "Xvfb did not start: $(cat "$XVFB_LOG")"
export DISPLAY=":$display"
wineserver -p > /dev/null 2>&1
"$WINE" cmd /c exit > /dev/null 2>&1

# shellcheck source=sims.sh
. "$HERE/sims.sh"
trap 'stop_sims; finish' EXIT
# The driver runs beside the staged DLLs and plugins, the ones that ship, as
# the window does (Qt looks for its plugins beside the program).
mkdir "$SCRATCH/app"
ln -s "$STAGE"/* "$SCRATCH/app/"
cp "$DRIVER" "$SCRATCH/app/window-download.exe"
# A window program that does not end is a failure, not a hang.
GUI_LIMIT=120

python3 "$HERE/imgset.py" write "$SCRATCH/imgset.img"
SIM_ARGS=(--time-scale 0 --state-dir "$SCRATCH/state")
mkdir -p "$SCRATCH/state"
start_sims "$SIM" 7

# shot EXE PICTURE: the window program saves its picture and ends in time;
# the picture has PNG's signature and more than a blank picture's bytes.
shot() {
  timeout "$GUI_LIMIT" "$WINE" "$1" --screenshot "Z:$2" > "$SCRATCH/shot.out" 2>&1 ||
    fail "$1 --screenshot failed: $(cat "$SCRATCH/shot.out")"
  [ "$(head -c 8 "$2" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] && [ "$(stat -c %s "$2")" -gt 10000 ] ||
    fail "the picture $2 is missing or blank"
}
msi() {
  "$WINE" msiexec "$@" /qn > "$SCRATCH/msi.out" 2>&1 || fail "msiexec $*: $(cat "$SCRATCH/msi.out")"
}

echo "== the staged window shows itself"
shot "$STAGE/vantrel-downloader.exe" "$SCRATCH/window.png"
echo "ok: $(stat -c %s "$SCRATCH/window.png") bytes"
[ -z "$PICTURE" ] || cp "$SCRATCH/window.png" "$PICTURE"

# Windows scaling at 150 % (144 dots per inch): the window comes out half as
# large again in pixels, its layout and texts scaled rather than clipped.
png_width() { od -An -tu1 -j16 -N4 "$1" | awk '{print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4}'; }
"$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f > /dev/null 2>&1
shot "$STAGE/vantrel-downloader.exe" "$SCRATCH/window150.png"
"$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f > /dev/null 2>&1
w100=$(png_width "$SCRATCH/window.png")
w150=$(png_width "$SCRATCH/window150.png")
[ $((w150 * 100)) -ge $((w100 * 140)) ] && [ $((w150 * 100)) -le $((w100 * 160)) ] ||
  fail "at 150 % the window is $w150 pixels wide, at 100 % $w100"
echo "ok: $w100 pixels wide at 100 %, $w150 at 150 %"

echo "== DOWNLOAD through the window on COM7"
status=0
timeout 300 "$WINE" "$SCRATCH/app/window-download.exe" "Z:$SCRATCH/settings.INI" "Z:$SCRATCH/imgset.img" > "$SCRATCH/driver.out" 2>&1 || status=$?
grep -v '^---' "$SCRATCH/driver.out" | grep -E '^(START|DOWNLOAD|message box|window-download)' || true
if [ "$status" -ne 0 ]; then
  cat "$SCRATCH/driver.out" >&2
  tail -n 40 "$SCRATCH/sim7/transcript" >&2 || true
  fail "the window's download failed (status $status)"
fi
python3 "$HERE/imgset.py" in-nand "$SCRATCH/state" "$SCRATCH/imgset.img"

echo "== the installer"
windows_user="$WINEPREFIX/drive_c/users/$(id -un)"
settings="$windows_user/AppData/Roaming/vantrel-downloader/vantrel-downloader.INI"
mkdir -p "$(dirname "$settings")"
printf '[Settings]\r\nUartPort=7\r\n' > "$settings"
program="$WINEPREFIX/drive_c/Program Files/VANTREL Downloader"
menu_entry() { find "$WINEPREFIX/drive_c" -name 'VANTREL Downloader.lnk' 2> /dev/null | head -n 1; }

msi /i "Z:$MSI"
[ -f "$program/vantrel-downloader.exe" ] && [ -f "$program/platforms/qwindows.dll" ] ||
  fail "the program folder lacks its files: $(ls -R "$program" 2>&1)"
entry=$(menu_entry)
[ -n "$entry" ] || fail "no Start-menu entry"
echo "ok: installed; Start-menu entry ${entry#"$WINEPREFIX/"}"
shot "$program/vantrel-downloader.exe" "$SCRATCH/installed.png"
echo "ok: the installed window starts"

# A newer version replaces the installed one: after its uninstall nothing is
# left, which would not be so if the old product were still installed.
version=$(sed -n 's/.*vantrel-downloader-\(.*\)-x64\.msi$/\1/p' <<< "$MSI")
newer="$SCRATCH/newer.msi"
(cd "$STAGE" && wixl -a x64 -D "Version=$version.1" -D Stage=. -o "$newer" "$WXS")
msi /i "Z:$newer"
msi /x "Z:$newer"
[ ! -e "$program/vantrel-downloader.exe" ] || fail "the program is still there after the upgrade's uninstall"
[ -z "$(menu_entry)" ] || fail "the Start-menu entry is still there after the uninstall"
[ -f "$settings" ] || fail "the uninstall removed the operator's settings"
echo "ok: upgraded and uninstalled; program and Start-menu entry gone, settings kept"
