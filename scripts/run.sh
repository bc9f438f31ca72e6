#!/usr/bin/env bash
# Builds, starts the simulated supply on a pseudo-terminal and runs the calibrator against it.
# --meter also simulates the bench multimeter and sets the calibrator up to read it; every other
# option goes to the simulator.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
"$here/scripts/setup.sh" "$build"

rundir=$here/run
mkdir -p "$rundir"
cp "$build/shell/korvex-calibrator" "$rundir/"

meter=0
simargs=()
for arg in "$@"; do
  if [ "$arg" = --meter ]; then meter=1; simargs+=(--meter-pty); else simargs+=("$arg"); fi
done

simlog=$(mktemp)
"$build/tools/psu-sim" "${simargs[@]}" > >(tee "$simlog") &
sim=$!
cleanup() { kill "$sim" 2>/dev/null || true; rm -f "$simlog"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

pty=
for _ in $(seq 1 50); do
  pty=$(sed -n 's/^PTY \(.*\)$/\1/p' "$simlog" | head -n 1)
  [ -n "$pty" ] && break
  sleep 0.1
done
if [ -z "$pty" ]; then
  echo "The simulated supply did not start." >&2
  exit 1
fi

# Keep the counter and the other keys of an earlier run; only the port mapping is renewed.
ini=$rundir/Config.Ini
if [ -f "$ini" ] && grep -q '^COM1=' "$ini"; then
  sed -i "s|^COM1=.*|COM1=$pty\r|" "$ini"
else
  printf '[Ports]\r\nCOM1=%s\r\n' "$pty" >> "$ini"
fi
echo "Simulated supply on $pty (COM1)."

# The [Meter] section is this script's own: rewritten at every start, left out without --meter.
if [ -f "$ini" ]; then
  awk 'BEGIN { skip = 0 } /^\[/ { skip = tolower($0) ~ /^\[meter\]/ } !skip' "$ini" > "$ini.new" && mv "$ini.new" "$ini"
fi
if [ "$meter" = 1 ]; then
  meterpty=
  for _ in $(seq 1 50); do
    meterpty=$(sed -n 's/^METERPTY \(.*\)$/\1/p' "$simlog" | head -n 1)
    [ -n "$meterpty" ] && break
    sleep 0.1
  done
  printf '[Meter]\r\nConnection=serial\r\nPort=%s\r\n' "$meterpty" >> "$ini"
  echo "Simulated multimeter on $meterpty: the value dialog fills in its readings."
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # Nobody could see or answer its windows: prove that it starts, then stop it.
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): starting the calibrator offscreen for 5 s to check that it runs."
  QT_QPA_PLATFORM=offscreen "$rundir/korvex-calibrator" &
  calibrator=$!
  sleep 5
  if ! kill -0 "$calibrator" 2> /dev/null; then
    rc=0
    wait "$calibrator" || rc=$?
    echo "The calibrator ended by itself (exit $rc)." >&2
    exit 1
  fi
  kill "$calibrator"
  wait "$calibrator" 2> /dev/null || true
  echo "The calibrator started and was stopped. It is a desktop program: run scripts/run.sh in a desktop session (or over ssh -X) to calibrate."
  exit 0
fi
echo "Press Setting, then OK, then Calibrate."
"$rundir/korvex-calibrator"
