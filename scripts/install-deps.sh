#!/usr/bin/env bash
# Installs everything the build, the tests and the window need on Debian 12,
# or only the packages named as arguments (scripts/build-windows.sh names its
# own). Quick when all is there already: packages are checked before apt is
# touched.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build g++ clang pkg-config
  # The fuzz run: clang's sanitizer and libFuzzer runtimes.
  libclang-rt-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libudev-dev nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev
  xvfb xauth fonts-dejavu-core
  # Arial's widths for the window's captions (fontconfig substitutes it).
  fonts-liberation2
  # The .deb: CPack's shared-library dependency scan runs dpkg-shlibdeps and
  # asks `file` which installed files are programs.
  dpkg-dev file
  # The package's checks: lintian on the .deb, the AppStream data, and a
  # private session bus for the window's desktop notice.
  lintian appstream dbus-daemon
)
if [ $# -gt 0 ]; then
  PACKAGES=("$@")
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
