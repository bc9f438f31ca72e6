#!/usr/bin/env bash
# Builds the Debian package of the calibrator, korvex-results and psu-sim into dist/ (Debian 12,
# as root; installs what the build needs when it is missing).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-deb
rm -rf "$build"
# Installed under /usr, so that the programs find the bench's shared folder (see README).
KORVEX_BUILD_TARGETS="korvex-calibrator korvex-results psu-sim" \
  "$here/scripts/setup.sh" "$build" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
mkdir -p "$here/dist"
(cd "$build" && cpack -B "$here/dist" > /dev/null)
rm -rf "$here/dist/_CPack_Packages"
ls "$here"/dist/korvex-calibrator_*.deb
