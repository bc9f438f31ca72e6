#!/usr/bin/env bash
# One whole calibration with the simulated meter read by the program, on a virtual display with
# Qt's accessibility on, driven through AT-SPI by bench/a11y_driver.py. Prints the driver's line:
# the run's time from Calibrate to the finished box, and the longest wait of a button press for its
# answer (a press that opens a modal window must not wait for the window to close).
# Usage: bench/a11y-run.sh <build folder>   (needs root for the packages the first time)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$1
packages=(xvfb xauth dbus-daemon at-spi2-core python3-pyatspi)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update > /dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" > /dev/null
fi

if [ -z "${KORVEX_A11Y_INSIDE:-}" ]; then
  # A display and a session bus of its own, so that nothing of the machine's desktop takes part.
  exec env KORVEX_A11Y_INSIDE=1 xvfb-run -a -s "-screen 0 1366x768x24" dbus-run-session -- "$0" "$@" 2> /dev/null
fi

work=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2> /dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
cp "$build/shell/korvex-calibrator" "$work/"
"$build/tools/psu-sim" --meter-pty > "$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do grep -q '^METERPTY ' "$work/sim.log" && break; sleep 0.1; done
printf '[Ports]\r\nCOM1=%s\r\n[Meter]\r\nConnection=serial\r\nPort=%s\r\n' \
  "$(sed -n 's/^PTY //p' "$work/sim.log")" "$(sed -n 's/^METERPTY //p' "$work/sim.log")" > "$work/Config.Ini"
/usr/libexec/at-spi-bus-launcher --launch-immediately > /dev/null 2>&1 &
pids+=($!)
sleep 1
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb "$work/korvex-calibrator" > "$work/calibrator.log" 2>&1 &
pids+=($!)
/usr/bin/python3 "$here/bench/a11y_driver.py"
