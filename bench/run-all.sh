#!/usr/bin/env bash
# Runs every benchmark and prints their figures as one table. Figures only: nothing here passes or
# fails. Usage: bench/run-all.sh [build folder, default build/]   (builds what it needs first)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
"$here/scripts/setup.sh" "$build" > /dev/null
work=$(mktemp -d)
sim=
server=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2> /dev/null
  [ -n "$server" ] && "$here/bench/million-server.sh" stop "$server"
  rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
row() { printf '%-64s %16s %16s %10s %10s\n' "$@"; }

# 1, 2: a whole calibration against a simulator that answers at once, with the automatic
# operator typing the simulator's levels at once.
cp "$build/shell/korvex-calibrator" "$work/"
"$build/tools/psu-sim" --serial none > "$work/sim.log" 2>&1 &
sim=$!
for _ in $(seq 1 50); do grep -q '^PTY ' "$work/sim.log" && break; sleep 0.1; done
printf '[Ports]\r\nCOM1=%s\r\n' "$(sed -n 's/^PTY //p' "$work/sim.log")" > "$work/Config.Ini"
run=$("$work/korvex-calibrator" --automatic --levels "$work/sim.log" 2> /dev/null | grep 'run took')
kill "$sim"; wait "$sim" 2> /dev/null || true; sim=
runms=$(echo "$run" | sed -n 's/run took \([0-9]*\) ms.*/\1/p')
cpums=$(echo "$run" | sed -n 's/.*processor \([0-9.]*\) ms.*/\1/p')
# The least the protocol allows at 9600 baud on a pseudo-terminal (no line time): each of the 22
# sent steps one send period (400 ms) and the receive wait (35 ms) after its answer; each of the
# 7 points the meter delay (1000 ms) and the read timer's Interval (500 ms); the pause after the
# serial-number and testing-information frames (2 x 2000 ms). On a real 9600-baud line each frame
# and its answer would add 2 x 26 x 10 / 9600 s = 54 ms more per step.
minms=$((22 * (400 + 35) + 7 * (1000 + 500) + 2 * 2000))

# 3: start-up to the shown main window and peak memory, against a minimal Qt Widgets window, the
# two started in turn 31 times: a single start is at the mercy of whatever else the machine does.
# Timed in microseconds: a start takes a few tens of milliseconds, and whole milliseconds would
# move the ratio by several hundredths.
cal_us=(); cal_kb=(); min_us=(); min_kb=()
for _ in $(seq 1 31); do
  s=$(date +%s%N); kb=$("$work/korvex-calibrator" --quit-when-shown 2> /dev/null | sed -n 's/PEAK_RSS_KB //p'); e=$(date +%s%N)
  cal_us+=($(((e - s) / 1000))); cal_kb+=("$kb")
  s=$(date +%s%N); kb=$("$build/bench/minimal_window" 2> /dev/null | sed -n 's/PEAK_RSS_KB //p'); e=$(date +%s%N)
  min_us+=($(((e - s) / 1000))); min_kb+=("$kb")
done
calms=$(printf '%s\n' "${cal_us[@]}" | median | awk '{printf "%.1f", $1 / 1000}')
minwms=$(printf '%s\n' "${min_us[@]}" | median | awk '{printf "%.1f", $1 / 1000}')
calkb=$(printf '%s\n' "${cal_kb[@]}" | median); minkb=$(printf '%s\n' "${min_kb[@]}" | median)

echo "Korvex Power Calibrator: figures of $(date -u +%Y-%m-%d) on $(nproc) cores"
echo
row "Figure" "Measured" "Yardstick" "Ratio" "Target"
row "1 whole calibration, wall time" "$runms ms" "$minms ms" "$(awk "BEGIN {printf \"%.4f\", $runms / $minms}")" "<= 1.01"
row "2 processor share of the calibrator" "$cpums ms" "$runms ms" "$(awk "BEGIN {printf \"%.2f %%\", 100 * $cpums / $runms}")" "< 1 %"
row "3 start-up to the shown window (median)" "$calms ms" "$minwms ms" "$(awk "BEGIN {printf \"%.2f\", $calms / $minwms}")" "<= 1.3"
row "3 peak resident memory (median)" "$calkb kB" "$minkb kB" "$(awk "BEGIN {printf \"%.2f\", $calkb / $minkb}")" "<= 1.3"
"$build/bench/bench_latency" | tail -n +2 | while read -r baud wait med worst over; do
  row "4 answer latency at $baud baud (median)" "$med ms" "$wait ms" "+$over ms" "<= +2 ms"
done
"$build/bench/bench_results" > "$work/results.txt"
step=$(sed -n 's/.*mean \([0-9]*\) us   median \([0-9]*\) us.*/\2/p' "$work/results.txt" | head -n 1)
row "5 recording one step (median)" "$step us" "" "" "< 1000 us"
sed -n 's/^filter by serial "\([^"]*\)".*first page median \([0-9.]*\) ms, all matches listed median \([0-9.]*\) ms.*/\1 \2 \3/p' \
  "$work/results.txt" | while read -r serial first all; do
  row "5 serial filter \"$serial\", 100,000 runs" "$all ms" "" "" "< 200 ms"
done
# 7: the record over a line's lifetime: a million generated runs (made once and kept in
# /var/tmp/korvex-bench; the first run of this script spends about ten minutes making them), in the
# file and on a PostgreSQL server (made beside it from the file once, in about as long again;
# started for these figures and stopped).
server_dir=/var/tmp/korvex-bench/server-1000000
port=$("$here/bench/million-server.sh" start "$server_dir")
server=$server_dir
"$build/bench/bench_million" --server-port "$port" > "$work/million.txt" 2> /dev/null
"$here/bench/million-server.sh" stop "$server_dir"; server=
grep ' median ' "$work/million.txt" | while IFS= read -r line; do
  what=$(echo "${line:0:62}" | sed 's/ *$//')
  med=$(echo "$line" | sed -n 's/.* median *\([0-9.]*\) ms.*/\1/p')
  target=$(echo "$line" | sed -n 's/.*(target: under \([0-9]*\) ms).*/\1/p')
  row "7 $what" "$med ms" "" "" "< $target ms"
done
row "7 record size per run" "$(sed -n 's/.*, \([0-9]*\) bytes per run in use.*/\1/p' "$work/million.txt") bytes" "" "" ""
row "7 server: record size per run" "$(sed -n 's/^server record of .*, \([0-9]*\) bytes per run$/\1/p' "$work/million.txt") bytes" "" "" ""
db=$(sed -n 's/^record of [0-9]* runs: \([^,]*\),.*/\1/p' "$work/million.txt")
for command in stats "stats --bench bench-3 --since 2025-01-01" "stats --plausibility 10" "export --csv -"; do
  /usr/bin/time -f '%e %M' -o "$work/time.txt" "$build/tools/korvex-results" --db "$db" $command > /dev/null 2>&1 || true
  read -r seconds kb < "$work/time.txt"
  row "7 korvex-results $command, 1,000,000 runs" "$seconds s" "$kb kB" "" ""
done
# 6: a meter's reading at one point, from the first query to the settled value, against psu-sim's
# SCPI meter and its Fluke 287 through libsigrok (the supply's output off: the levels do not change
# the time). libserialport takes the pty for a port only bound over /dev/ttyS0 in a mount namespace
# of its own, with the modem-line shim of the tests preloaded: that needs root.
meter_row() {
  local kind=$1 args=$2 line
  "$build/tools/psu-sim" --serial none --meter-pty $args > "$work/meter.log" 2>&1 &
  sim=$!
  for _ in $(seq 1 50); do grep -q '^METERPTY ' "$work/meter.log" && break; sleep 0.1; done
  local pty; pty=$(sed -n 's/^METERPTY //p' "$work/meter.log")
  if [ "$kind" = sigrok ]; then
    if [ "$(id -u)" -eq 0 ] && [ -e /dev/ttyS0 ]; then
      line=$(unshare --mount --propagation private sh -c \
        "mount --bind '$pty' /dev/ttyS0 && LD_PRELOAD='$build/tests/support/libptymodem.so' '$build/bench/bench_meter' sigrok /dev/ttyS0" 2> /dev/null || true)
    else
      line="sigrok (needs root and /dev/ttyS0)"
    fi
  else
    line=$("$build/bench/bench_meter" scpi "$pty" 2> /dev/null || true)
  fi
  kill "$sim"; wait "$sim" 2> /dev/null || true; sim=
  set -- $line
  if [ $# -eq 3 ]; then
    row "6 meter reading, $kind, first (opens the meter)" "$2 ms" "" "" ""
    row "6 meter reading, $kind, then (median of 10)" "$3 ms" "" "" ""
  else
    row "6 meter reading, $kind" "n/a" "" "" "$line"
  fi
}
meter_row scpi ""
meter_row sigrok "--meter-fluke"
# 8: the same whole calibration read and driven over AT-SPI (the meter read by the program, each
# window answered through the accessibility bus), against the headless run of figure 1 (whose meter
# is typed at once, so the driver's polls and the meter's readings make the difference).
if a11y=$("$here/bench/a11y-run.sh" "$build" 2> /dev/null); then
  a11yms=$(echo "$a11y" | sed -n 's/^A11Y_RUN_MS \([0-9]*\).*/\1/p')
  row "8 whole calibration driven over AT-SPI, wall time" "$a11yms ms" "$runms ms" "$(awk "BEGIN {printf \"%.2f\", $a11yms / $runms}")" ""
  row "8 longest wait of a button press for its answer" "$(echo "$a11y" | sed -n 's/.*A11Y_LONGEST_PRESS_MS \([0-9]*\).*/\1/p') ms" "" "" "< 100 ms"
else
  row "8 whole calibration driven over AT-SPI" "n/a" "" "" "the driver did not finish"
fi
echo
echo "Details:"
cat "$work/results.txt"
cat "$work/million.txt"
"$build/bench/bench_link"
