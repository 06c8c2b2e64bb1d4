#!/usr/bin/env bash
# Builds the part of Qt the window needs (Core, Gui, Widgets, Test and the
# qwindows platform plugin) for 64-bit Windows with Debian's MinGW-w64, from
# Debian's own source package, into a cache folder outside the tree:
#
#   scripts/build-qt-windows.sh            builds, or finds the cache and returns
#   scripts/build-qt-windows.sh --prefix   prints where the cache is, and nothing else
#
# The cache is $VANTREL_QT_CACHE, else ~/.cache/vantrel-downloader/qt-<version>-mingw.
# Debian ships no Qt for MinGW, but it ships Qt's source at the version of the
# host's Qt tools (moc, rcc, uic), which the cross build needs at the same
# version. The build takes one to two hours on two cores, so it is never part
# of a CI run on a fresh machine; a run finds the cache and returns at once.
#
# The source comes through apt with a private source list, so the machine's
# own apt configuration is never touched: apt checks the archive's signed
# Release file against Debian's keyring, the Sources index against the
# Release file's hashes, and every downloaded file against the index, as it
# does for any package it installs.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

QT_VERSION=6.4.2
CACHE_ROOT=${XDG_CACHE_HOME:-$HOME/.cache}/vantrel-downloader
PREFIX=${VANTREL_QT_CACHE:-$CACHE_ROOT/qt-$QT_VERSION-mingw}
WORK=$CACHE_ROOT/qt-$QT_VERSION-mingw-work
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

case "${1:-}" in
  "") ;;
  --prefix) echo "$PREFIX"; exit 0 ;;
  *) echo "usage: scripts/build-qt-windows.sh [--prefix]" >&2; exit 2 ;;
esac

if [ -f "$PREFIX/.complete" ]; then
  echo "Qt $QT_VERSION for MinGW-w64 is in $PREFIX (built $(cat "$PREFIX/.complete"))"
  exit 0
fi

# The cross compiler, Wine for the build's own checks, the host's Qt tools at
# the same version, and what apt needs to unpack a source package.
bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix cmake ninja-build qt6-base-dev-tools \
  dpkg-dev xz-utils debian-archive-keyring

host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
case "$host_version" in
  "$QT_VERSION"*) ;;
  *) echo "the host's Qt tools are $host_version, not $QT_VERSION: the cross build needs the same version" >&2
     exit 1 ;;
esac

started=$(date +%s)
say() { printf '== [%s] %s\n' "$(date -u -d "@$(($(date +%s) - started))" +%H:%M:%S)" "$*"; }
say "building Qt $QT_VERSION for MinGW-w64 into $PREFIX"
say "expect one to two hours on two cores (about 1080 build steps); progress shows as [step/total]"

# 1. The source package, through apt with a private list beside the cache.
APT_DIR=$WORK/apt
mkdir -p "$APT_DIR/lists/partial" "$APT_DIR/archives/partial" "$WORK/src"
cat > "$APT_DIR/sources.list" <<EOF
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
EOF
APT=(apt-get -q
  -o "Dir::Etc::SourceList=$APT_DIR/sources.list" -o "Dir::Etc::SourceParts=-"
  -o "Dir::State::Lists=$APT_DIR/lists" -o "Dir::Cache::Archives=$APT_DIR/archives"
  -o "APT::Sandbox::User=root" -o "Debug::NoLocking=1")
SRC_DIR=$(find "$WORK/src" -maxdepth 1 -type d -name "qt6-base-*" | head -n 1)
if [ -z "$SRC_DIR" ]; then
  say "fetching Debian's qt6-base $host_version source package (apt checks its signature and hashes)"
  "${APT[@]}" update
  (cd "$WORK/src" && "${APT[@]}" source --only-source "qt6-base=$host_version")
  SRC_DIR=$(find "$WORK/src" -maxdepth 1 -type d -name "qt6-base-*" | head -n 1)
fi
[ -n "$SRC_DIR" ] || { echo "no qt6-base source in $WORK/src" >&2; exit 1; }
say "source in $SRC_DIR"

# 2. Configure: only what the window uses. Debian's sources lack two
# Windows-only third-party folders: tablet input (off; the window has no use
# for a pen) and IAccessible2, which Qt 6 no longer uses, so accessibility
# stays on through UI Automation for operators who work with a screen reader. No OpenGL: the window paints
# with the raster engine. Bundled zlib, PNG, HarfBuzz, FreeType and PCRE2,
# since MinGW has none of the system ones.
BUILD=$WORK/build
say "configuring (about 80 s)"
cmake -S "$SRC_DIR" -B "$BUILD" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$PREFIX" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DBUILD_WITH_PCH=OFF \
  -DFEATURE_opengl=OFF -DINPUT_opengl=no \
  -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_printsupport=OFF \
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_openssl=OFF \
  -DFEATURE_tabletevent=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_pcre2=OFF \
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
  > "$WORK/configure.log" 2>&1 || { tail -n 40 "$WORK/configure.log" >&2; exit 1; }

# 3. Build and install.
say "building with $JOBS jobs"
cmake --build "$BUILD" --parallel "$JOBS"
say "installing into $PREFIX"
cmake --install "$BUILD" > "$WORK/install.log"
date -u +%Y-%m-%dT%H:%M:%SZ > "$PREFIX/.complete"
say "done: Qt $QT_VERSION for MinGW-w64 is in $PREFIX"
