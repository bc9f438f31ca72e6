#!/usr/bin/env bash
# Installs what the build needs (Debian 12, as root) when it is missing, then configures and builds.
# Usage: scripts/setup.sh [build-dir] [extra cmake options...]
# KORVEX_BUILD_TARGETS, when set, names the targets to build instead of all of them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
shift || true

packages=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libturbojpeg0-dev libgl-dev
          xvfb xauth fonts-dejavu-core fonts-liberation2 libqt6sql6-sqlite poppler-utils
          desktop-file-utils appstream file clang libqt6sql6-psql postgresql-15 openssl help2man man-db
          libsigrokcxx-dev libglibmm-2.4-dev qt6-charts-dev libqt6opengl6-dev)
# libsigrokcxx.pc requires glibmm-2.4.pc, which libsigrokcxx-dev does not pull in by itself; Qt6Charts
# needs the Qt6OpenGL CMake files, which qt6-charts-dev does not pull in either.
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  # The tests start PostgreSQL servers of their own; the package's default cluster is not made.
  if [[ " ${missing[*]} " == *" postgresql-15 "* ]] && [ ! -e /etc/postgresql-common/createcluster.conf ]; then
    $sudo mkdir -p /etc/postgresql-common
    echo "create_main_cluster = false" | $sudo tee /etc/postgresql-common/createcluster.conf > /dev/null
  fi
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" ${KORVEX_BUILD_TARGETS:+--target $KORVEX_BUILD_TARGETS}
