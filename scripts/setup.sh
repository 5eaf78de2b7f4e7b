#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every Debian package that building, running and testing Navora needs.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build ccache pkg-config git clang libclang-rt-14-dev clang-format
  # Qt 6 libraries and tools
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-serialport-dev qt6-positioning-dev qt6-svg-dev qt6-multimedia-dev qt6-tools-dev
  libqt6opengl6-dev libgl-dev libxkbcommon-dev
  # QML modules the user interface imports at run time
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtqml
  qml6-module-qtqml-workerscript qml6-module-qtqml-models qml6-module-qtquick-dialogs
  qml6-module-qtquick-shapes qml6-module-qt-labs-platform qml6-module-qtpositioning
  qml6-module-qt-labs-folderlistmodel
  qt6-qpa-plugins qt6-image-formats-plugins libqt6svg6
  # libraries
  libgeographiclib-dev zlib1g-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # the AIS benchmark measures gpsdecode on the same log, side by side
  gpsd-clients
  xvfb xauth x11-utils xdotool imagemagick socat nginx dbus curl netcat-openbsd
  # independent checkers of the GPX files Navora writes (schema, and another reader)
  gpsbabel libxml2-utils
  # TLS for the web client and its tests (test certificates are made with openssl)
  openssl libssl3 ca-certificates
  # OpenGL from Mesa's software rasteriser, for QtQuick's threaded render loop under Xvfb
  libgl1-mesa-dri libglx-mesa0 libegl-mesa0
  appstream desktop-file-utils shared-mime-info
  # fonts and data tools
  fonts-roboto fonts-dejavu-core
)

if [ -z "${NAVORA_SKIP_APT_UPDATE:-}" ]; then
  $SUDO apt-get update
fi
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${PACKAGES[@]}"

# Node.js and npm (for the chart source data) come with many images already; install them only when absent.
if ! command -v npm >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends nodejs npm
fi
