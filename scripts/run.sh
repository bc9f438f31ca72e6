#!/usr/bin/env bash
# Builds, starts the simulated supply on a pseudo-terminal and runs the calibrator against it.
#   --meter      also simulate the bench multimeter and set the calibrator up to read it
#   --installed  use the installed programs (korvex-calibrator, psu-sim in /usr/bin) and their
#                shared folder instead of building; needs root to write that folder
# Every other option goes to the simulator. Without a display, one whole calibration runs
# offscreen with an automatic operator (and the simulated meter); the exit status tells whether
# it finished with the supply holding everything and the record holding the run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

meter=0
installed=0
simargs=()
for arg in "$@"; do
  case $arg in
    --meter) meter=1 ;;
    --installed) installed=1 ;;
    *) simargs+=("$arg") ;;
  esac
done
headless=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless=1
  # Nobody is at the bench to read a meter: the simulated one is read by the program.
  meter=1
fi

if [ "$installed" = 1 ]; then
  calibrator=/usr/bin/korvex-calibrator
  psusim=/usr/bin/psu-sim
  datadir=/var/lib/korvex-calibrator
else
  build=$here/build
  # Only what this command runs: the calibrator, the printing module it loads when the operator
  # first prints, and the simulator. The tests are the test command's to build.
  KORVEX_BUILD_TARGETS="korvex-calibrator korvex-printing korvex-sigrok psu-sim" "$here/scripts/setup.sh" "$build"
  datadir=$here/run
  mkdir -p "$datadir"
  cp "$build/shell/korvex-calibrator" "$datadir/"
  calibrator=$datadir/korvex-calibrator
  psusim=$build/tools/psu-sim
fi
[ "$meter" = 1 ] && simargs+=(--meter-pty)

simlog=$(mktemp)
if [ "$headless" = 1 ]; then
  "$psusim" "${simargs[@]}" > "$simlog" 2>&1 &
else
  "$psusim" "${simargs[@]}" > >(tee "$simlog") &
fi
sim=$!
cleanup() { kill "$sim" 2> /dev/null || true; rm -f "$simlog"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits for the simulator to print "<prefix> <value>" and prints the value.
printed() {
  for _ in $(seq 1 50); do
    value=$(sed -n "s/^$1 \\(.*\\)\$/\\1/p" "$simlog" | head -n 1)
    if [ -n "$value" ]; then
      echo "$value"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

pty=$(printed PTY) || { echo "The simulated supply did not start." >&2; cat "$simlog" >&2; exit 1; }

# Keep the counter and the other keys of an earlier run; only the port mapping is renewed.
ini=$datadir/Config.Ini
mkdir -p "$datadir"
if [ -f "$ini" ] && grep -q '^COM1=' "$ini"; then
  sed -i "s|^COM1=.*|COM1=$pty\r|" "$ini"
else
  printf '[Ports]\r\nCOM1=%s\r\n' "$pty" >> "$ini"
fi
echo "Simulated supply on $pty (COM1)."

# The [Meter] section is this script's own: rewritten at every start, left out without a meter.
awk 'BEGIN { skip = 0 } /^\[/ { skip = tolower($0) ~ /^\[meter\]/ } !skip' "$ini" > "$ini.new" && mv "$ini.new" "$ini"
if [ "$meter" = 1 ]; then
  meterpty=$(printed METERPTY) || { echo "The simulated meter did not start." >&2; exit 1; }
  printf '[Meter]\r\nConnection=serial\r\nPort=%s\r\n' "$meterpty" >> "$ini"
  echo "Simulated multimeter on $meterpty: the value dialog fills in its readings."
fi

if [ "$headless" = 0 ]; then
  echo "Press Setting, then OK, then Calibrate."
  "$calibrator"
  exit 0
fi

echo "No display: one whole calibration runs offscreen, every window answered automatically."
set +e
# Qt's own notes about the offscreen platform are left out of what is shown.
QT_QPA_PLATFORM=offscreen "$calibrator" --automatic --levels "$simlog" > >(grep --line-buffered -v 'propagateSizeHints\|XDG_RUNTIME_DIR') 2>&1
rc=$?
set -e
kill -TERM "$sim"
wait "$sim" || true

# What the supply holds now, as the simulator prints it on its way out.
state=$(grep '^STATE ' "$simlog" | tail -n 1)
echo "Supply: $state"
missing=()
for field in V1 V2 V3 V4 V5 I1 I2 date model; do
  case " $state " in *" $field=-"*) missing+=("$field") ;; esac
done
case " $state " in *" serial=none "*) missing+=(serial) ;; esac
if [ "$rc" -ne 0 ] || [ ${#missing[@]} -gt 0 ]; then
  echo "The automatic run did not finish as it should (calibrator exit $rc${missing[*]:+, the supply lacks ${missing[*]}})." >&2
  exit 1
fi
echo "The automatic run finished: the supply holds the seven values, its serial number and the test date, and the results record holds the run."
