#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages that building, testing and running the control
# centre need. Does nothing when they are all present.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libusb-1.0-0-dev libcanberra-dev
  xvfb xauth fonts-dejavu-core xdg-utils trayer python3-xlib
  msmtp python3-aiosmtpd
  dbus-daemon python3-dbusmock python3-dbus python3-gi at-spi2-core python3-pyatspi
  umockdev libumockdev-dev
  desktop-file-utils appstream lintian dpkg-dev librsvg2-bin
  clang-14 libclang-rt-14-dev llvm-14 lld
  udev
  qt6-charts-dev libqt6opengl6-dev libqt6sql6-sqlite
  qt6-wayland weston
  pipewire pipewire-bin wireplumber pipewire-pulse pulseaudio-utils libcanberra-pulse
  python3-prometheus-client prometheus-node-exporter
)

# Other scripts (the benchmarks) name their own packages as arguments.
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
$SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
$SUDO apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
