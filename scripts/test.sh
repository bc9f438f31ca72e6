#!/usr/bin/env bash
# Sets up, builds from a fresh build directory and runs every test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-test
rm -rf "$build"
"$here/scripts/setup.sh" "$build"
cd "$build"
ctest --output-on-failure -j2 "$@"
