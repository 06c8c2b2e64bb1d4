#!/usr/bin/env bash
# Builds for 64-bit Windows with MinGW-w64 into build-win/, writes the zip
# build-win/vantrel-<version>-windows-x86_64.zip, and runs the Windows test
# programs and the Wine end-to-end tests through Wine:
#
#   bash scripts/build-windows.sh            # install, build, test
#   bash scripts/build-windows.sh --no-tests # install and build only
#   bash scripts/build-windows.sh --window   # also the window and the installer
#
# --window needs Qt built for MinGW-w64 (scripts/build-qt-windows.sh, 1 to 2
# hours, kept in a cache outside the tree). It adds vantrel-downloader.exe, the
# Qt DLLs and plugins to the zip, writes the installer
# build-win/vantrel-downloader-<version>-x64.msi with wixl, runs the window's
# tests through Wine, and checks the window and the installer under Xvfb
# (tests/wine/window.sh). Without the cache it stops and says how to build it.
#
# What runs on Windows so far is listed in COMPONENTS; the rest of the tree
# is left out of this build until it ports. Programs the build runs itself
# (the payload generator) and the handset simulator of the Wine tests are
# built for this machine in build-win/host/. The tests run in a scratch Wine
# prefix with one persistent wineserver; the prefix is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD="$ROOT/build-win"
HOST="$BUILD/host"
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
RUN_TESTS=1
WINDOW=0
for arg in "$@"; do
  case "$arg" in
    --no-tests) RUN_TESTS=0 ;;
    --window) WINDOW=1 ;;
    *) echo "build-windows.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

# The folders that build for Windows.
COMPONENTS="platform;link;payloads;protocol;history;jobs;maintenance;cli;station"

bash scripts/install-deps.sh cmake ninja-build g++ googletest g++-mingw-w64-x86-64-posix wine wine64

GUI=(-DVANTREL_BUILD_GUI=OFF)
if [ "$WINDOW" -eq 1 ]; then
  QT=$(bash scripts/build-qt-windows.sh --prefix)
  if [ ! -f "$QT/.complete" ]; then
    echo "build-windows.sh: no Qt for MinGW-w64 in $QT; build it first with" >&2
    echo "  bash scripts/build-qt-windows.sh   (1 to 2 hours)" >&2
    exit 1
  fi
  # The host's Qt tools (moc, rcc, uic) serve the cross build; wixl writes
  # the installer, Xvfb and xdotool serve the window's check.
  bash scripts/install-deps.sh qt6-base-dev-tools qt6-base-dev wixl xvfb xauth xdotool
  GUI=(-DVANTREL_BUILD_GUI=ON "-DVANTREL_QT_PREFIX=$QT" -DQT_HOST_PATH=/usr
       "-DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake")
fi

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$ROOT}
LAUNCHER=()
if command -v ccache > /dev/null; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

echo "== Tools for this machine ($HOST)"
cmake -S "$ROOT" -B "$HOST" -G Ninja -DCMAKE_BUILD_TYPE=Release "${LAUNCHER[@]}" \
  -DVANTREL_BUILD_GUI=OFF -DVANTREL_BUILD_TESTS=OFF "-DVANTREL_COMPONENTS=platform;payloads;sim"
cmake --build "$HOST" -j "$JOBS" --target payload_gen vantrel-sim

echo "== Windows build ($BUILD)"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${LAUNCHER[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" "${GUI[@]}" \
  "-DVANTREL_COMPONENTS=$COMPONENTS" \
  -DVANTREL_HOST_PAYLOAD_GEN="$HOST/payloads/payload_gen" -DVANTREL_HOST_SIM="$HOST/sim/vantrel-sim"
cmake --build "$BUILD" -j "$JOBS"
ls "$BUILD"/vantrel-*-windows-x86_64.zip
[ "$WINDOW" -eq 0 ] || ls "$BUILD"/vantrel-downloader-*-x64.msi

# Every DLL a staged program or DLL imports is staged beside it or is part of
# Windows (Wine carries a copy of each system DLL; API sets are the loader's
# own names): a missing one would stop the program on an operator's PC with a
# message about that DLL.
missing=0
while IFS= read -r pe; do
  for dll in $(x86_64-w64-mingw32-objdump -p "$pe" | sed -n 's/^\s*DLL Name: //p'); do
    lower=$(echo "$dll" | tr 'A-Z' 'a-z')
    # API sets (api-ms-win-*, ext-ms-*) are names the Windows loader maps.
    case "$lower" in api-ms-win-* | ext-ms-*) continue ;; esac
    if [ -z "$(find "$BUILD/windows-stage" -maxdepth 1 -iname "$dll")" ] &&
       [ ! -e "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/$lower" ] &&
       [ ! -e "/usr/lib/wine/x86_64-windows/$lower" ]; then
      echo "build-windows.sh: ${pe#$BUILD/} needs $dll, which is neither staged nor part of Windows" >&2
      missing=1
    fi
  done
done < <(find "$BUILD/windows-stage" -iname '*.exe' -o -iname '*.dll')
[ "$missing" -eq 0 ]

[ "$RUN_TESTS" -eq 1 ] || exit 0

echo "== Tests through Wine"
export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-wine.XXXXXX")
# No console noise, and no offer to install Mono or Gecko into the prefix.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k > /dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
# One server for the whole run, and one run that sets up the prefix: each
# test program then starts in a fraction of a second instead of three.
wineserver -p > /dev/null 2>&1
wine cmd /c exit > /dev/null 2>&1
(cd "$BUILD" && ctest --output-on-failure -j "$JOBS")
