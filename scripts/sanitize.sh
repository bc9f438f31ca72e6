#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in a fresh build directory
# and runs every test under them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-sanitize
rm -rf "$build"
"$here/scripts/setup.sh" "$build" -DKORVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cd "$build"
# Qt's own plugins leak small allocations at exit; leaks are not what this run looks for.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --output-on-failure -j2 "$@"
