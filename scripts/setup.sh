#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building, running and testing the panel needs on Debian 12,
# and nothing when it is all there already.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-httpserver-dev qt6-websockets-dev libgl-dev
  qt6-qpa-plugins libxkbcommon-x11-0
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  fonts-ipafont-gothic
  xvfb xdotool x11-utils
  dbus at-spi2-core python3-pyatspi gir1.2-atspi-2.0
  socat ser2net python3-serial
  mosquitto mosquitto-clients libmosquitto-dev libssl-dev systemd openssl
  chromium chromium-driver python3-selenium
  lintian desktop-file-utils appstream dpkg-dev file debhelper
  debootstrap systemd-container procps
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
