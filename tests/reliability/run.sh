#!/usr/bin/env bash
# The reliability suite: the fault matrix, the fuzzers, crash safety, the single instance and a
# soak. Each part prints its own summary and the suite ends with all of them together.
# Usage: tests/reliability/run.sh [matrix] [fuzz] [crash] [instance] [soak]   (all when none)
# Environment: BUILD (build-reliability), FUZZ_BUILD (build-fuzz), JOBS (4 cells at a time),
# FUZZ_RUNS (10000000 per target), KILLS (500), SOAK_RUNS (200), SOAK_SEED (20261208).
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$here/build-reliability}
fuzz_build=${FUZZ_BUILD:-$here/build-fuzz}
jobs=${JOBS:-4}
fuzz_runs=${FUZZ_RUNS:-10000000}
kills=${KILLS:-500}
soak_runs=${SOAK_RUNS:-200}
soak_seed=${SOAK_SEED:-20261208}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
summary=()
failed=0

say() { printf '%s\n' "$*"; }
verdict() {  # verdict <part> <ok?> <text>
  if [ "$2" = 0 ]; then summary+=("$1: ok, $3"); else summary+=("$1: FAILED, $3"); failed=1; fi
}

# One cell of the matrix, run by xargs: writes "<id> <expected> <what fault_cell printed>".
if [ "${1:-}" = _cell ]; then
  id=$2 expected=$3 kind=$4
  shift 4
  line=$("$build/tests/reliability/fault_cell" "$build/tools/psu-sim" "$kind" "$@" 2> /dev/null | grep '^CELL' | tail -n 1)
  rc=$?
  [ -n "$line" ] || line="CELL end=crashed($rc) values=? serial=?"
  printf '%s %s %s\n' "$id" "$expected" "$line"
  exit 0
fi

parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(matrix fuzz crash instance soak)
wants() { local p; for p in "${parts[@]}"; do [ "$p" = "$1" ] && return 0; done; return 1; }

say "== building the programs under test in $build"
KORVEX_BUILD_TARGETS="korvex-calibrator psu-sim fault_cell crash_saver instance_probe" \
  "$here/scripts/setup.sh" "$build" > "$work/build.log" 2>&1 || { tail -n 30 "$work/build.log"; exit 1; }

# ---------------------------------------------------------------------------------------------
# The fault matrix. A calibration sends 22 frames: calibrator steps 1, 3, 4, 6, 25, 26 and 29 are
# the supply's 1st, 3rd, 4th, 5th, 18th, 19th and 22nd frame (the meter steps send none). A
# clearing run sends 5. Each fault applies at its step only.
if wants matrix; then
  say "== fault matrix"
  steps=(1:1 3:3 4:4 6:5 25:18 26:19 29:22)
  clear_steps=(1 2 3 4 5)
  # fault label | expected calibration end | expected clearing end | psu-sim options (@ is the step)
  faults=(
    "none|finished|cleared|"
    "no answer|stalled|clearing_failed|--no-answer-step @"
    "dropped|finished|cleared|--no-answer-step @x1"
    "bad checksum|finished|cleared|--at-step @ --bad-checksum allx1"
    "wrong address|finished|cleared|--at-step @ --wrong-address allx1"
    "split|finished|cleared|--at-step @ --split 3,10"
    "duplicated|finished|cleared|--at-step @ --duplicate all"
    "noise|finished|cleared|--at-step @ --noise all"
    "delay 300 ms|finished|cleared|--at-step @ --delay-ms 300"
    "hang-up|stalled|clearing_failed|--hangup-step @"
  )
  meter_faults=(
    "silent|finished|--meter-fault silent"
    "garbage|finished|--meter-fault garbage"
    "overload|finished|--meter-fault overload"
    "garbage twice|finished|--meter-fault garbagex2"
    "slow 200 ms|finished|--meter-delay-ms 200"
  )
  cells=$work/cells
  : > "$cells"
  for f in "${faults[@]}"; do
    IFS='|' read -r label cal clr opts <<< "$f"
    key=${label// /_}
    for s in "${steps[@]}"; do
      [ -n "$opts" ] || [ "${s%%:*}" = 1 ] || continue
      echo "cal:$key:${s%%:*} $cal calibration ${opts//@/${s##*:}}" >> "$cells"
    done
    for s in "${clear_steps[@]}"; do
      [ -n "$opts" ] || [ "$s" = 1 ] || continue
      echo "clr:$key:$s $clr clearing ${opts//@/$s}" >> "$cells"
    done
  done
  for f in "${meter_faults[@]}"; do
    IFS='|' read -r label cal opts <<< "$f"
    echo "met:${label// /_}:- $cal meter $opts" >> "$cells"
  done
  start=$(date +%s)
  # shellcheck disable=SC2016
  xargs -P "$jobs" -L 1 "$0" _cell < "$cells" > "$work/matrix" 2>&1
  elapsed=$(( $(date +%s) - start ))
  bad=0
  check_cell() {  # check_cell <id>: the cell's end, marked when it is not what it should be
    local line exp end values serial
    line=$(grep "^$1 " "$work/matrix" | head -n 1)
    [ -n "$line" ] || { printf 'missing'; bad=$((bad + 1)); return; }
    exp=$(cut -d' ' -f2 <<< "$line")
    end=$(sed -n 's/.* end=\([^ ]*\).*/\1/p' <<< "$line")
    values=$(sed -n 's/.* values=\([^ ]*\).*/\1/p' <<< "$line")
    serial=$(sed -n 's/.* serial=\([^ ]*\).*/\1/p' <<< "$line")
    if [ "$end" = "$exp" ] && [ "$values" = ok ] && [ "$serial" = ok ]; then
      printf '%s' "$end"
    else
      printf '%s!values=%s,serial=%s,want=%s' "$end" "$values" "$serial" "$exp"
      bad=$((bad + 1))
    fi
  }
  printf '%-14s' "calibration"; for s in "${steps[@]}"; do printf ' %-16s' "step ${s%%:*}"; done; echo
  for f in "${faults[@]}"; do
    IFS='|' read -r label cal clr opts <<< "$f"
    printf '%-14s' "$label"
    for s in "${steps[@]}"; do
      if [ -z "$opts" ] && [ "${s%%:*}" != 1 ]; then printf ' %-16s' '.'; continue; fi
      printf ' %-16s' "$(check_cell "cal:${label// /_}:${s%%:*}")"
    done
    echo
  done
  echo
  printf '%-14s' "clearing"; for s in "${clear_steps[@]}"; do printf ' %-16s' "step $s"; done; echo
  for f in "${faults[@]}"; do
    IFS='|' read -r label cal clr opts <<< "$f"
    printf '%-14s' "$label"
    for s in "${clear_steps[@]}"; do
      if [ -z "$opts" ] && [ "$s" != 1 ]; then printf ' %-16s' '.'; continue; fi
      printf ' %-16s' "$(check_cell "clr:${label// /_}:$s")"
    done
    echo
  done
  echo
  printf '%-14s %s\n' "meter" "whole calibration, the meter read at every point"
  for f in "${meter_faults[@]}"; do
    IFS='|' read -r label cal opts <<< "$f"
    printf '%-14s %s\n' "$label" "$(check_cell "met:${label// /_}:-")"
  done
  total=$(wc -l < "$cells")
  say "(every cell: the run's end; values and serial numbers on the wire checked; '!' marks a cell that is not as it should be)"
  verdict "fault matrix" "$([ "$bad" = 0 ] && echo 0 || echo 1)" "$((total - bad)) of $total cells as they should be, $elapsed s"
fi

# ---------------------------------------------------------------------------------------------
# libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer, every library instrumented.
if wants fuzz; then
  say "== fuzzing, $fuzz_runs executions per target"
  if ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed"; then
    if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends clang libclang-rt-14-dev > "$work/apt.log" 2>&1
  fi
  targets=(fuzz_ReplyAssembler:link fuzz_ReplyHandling:engine fuzz_IniFile:config fuzz_ValueEntry:operator fuzz_MeterReply:meter)
  names=()
  for t in "${targets[@]}"; do names+=("${t%%:*}"); done
  if ! { CC=clang CXX=clang++ cmake -S "$here" -B "$fuzz_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEX_FUZZ=ON \
           "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
           "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" > "$work/fuzz-build.log" 2>&1 &&
         cmake --build "$fuzz_build" -j"$(nproc)" --target "${names[@]}" >> "$work/fuzz-build.log" 2>&1; }; then
    tail -n 30 "$work/fuzz-build.log"
    verdict "fuzzing" 1 "the fuzz targets did not build"
  else
    export ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    fuzz_one() {  # fuzz_one <target> <folder>: on a copy of the corpus, so the stored one stays as it is
      local name=$1 dir=$2 corpus=$work/corpus-$1
      mkdir -p "$corpus" && cp "$here/tests/$dir/corpus/"* "$corpus/"
      local start; start=$(date +%s)
      "$fuzz_build/tests/$dir/$name" -runs="$fuzz_runs" -print_final_stats=1 -artifact_prefix="$work/$name-" \
        "$corpus" > "$work/$name.log" 2>&1
      local rc=$?
      local execs; execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
      printf '%s rc=%s execs=%s seconds=%s\n' "$name" "$rc" "${execs:-0}" "$(( $(date +%s) - start ))" >> "$work/fuzz"
    }
    : > "$work/fuzz"
    running=0
    for t in "${targets[@]}"; do
      fuzz_one "${t%%:*}" "${t##*:}" &
      running=$((running + 1))
      if [ "$running" -ge "$(nproc)" ]; then wait -n; running=$((running - 1)); fi
    done
    wait
    fbad=0
    for n in "${names[@]}"; do
      line=$(grep "^$n " "$work/fuzz")
      say "  $line"
      rc=$(sed -n 's/.* rc=\([0-9]*\).*/\1/p' <<< "$line")
      execs=$(sed -n 's/.* execs=\([0-9]*\).*/\1/p' <<< "$line")
      if [ "$rc" != 0 ] || [ "${execs:-0}" -lt "$fuzz_runs" ]; then
        fbad=$((fbad + 1))
        grep -m 20 -E 'ERROR|runtime error|SUMMARY|artifact' "$work/$n.log" | sed 's/^/    /'
        mkdir -p "$here/fuzz-findings" && cp "$work/$n-"* "$here/fuzz-findings/" 2> /dev/null
      fi
    done
    verdict "fuzzing" "$([ "$fbad" = 0 ] && echo 0 || echo 1)" \
      "${#names[@]} targets, $((${#names[@]} - fbad)) with $fuzz_runs executions and no finding"
  fi
fi

# ---------------------------------------------------------------------------------------------
# Crash safety: the counter and the record survive a SIGKILL at any moment.
if wants crash; then
  say "== crash safety, $kills kills"
  dir=$work/crash
  mkdir -p "$dir"
  printf '[Config]\r\nPowerID=0\r\n' > "$dir/Config.Ini"
  cbad=0
  for ((k = 1; k <= kills; k++)); do
    "$build/tests/reliability/crash_saver" run "$dir" > "$work/crash.out" 2> /dev/null &
    pid=$!
    # A random moment: some before the first save, most amid the saving.
    sleep "0.$(printf '%03d' $((20 + RANDOM % 300)))"
    kill -KILL "$pid" 2> /dev/null
    wait "$pid" 2> /dev/null
    saved=$(sed -n 's/^SAVED //p' "$work/crash.out" | tail -n 1)
    committed=$(sed -n 's/^COMMITTED //p' "$work/crash.out" | tail -n 1)
    # Killed before its first save or commit: what the kill before left holds.
    [ -n "$saved" ] || saved=${last_counter:-0}
    [ -n "$committed" ] || committed=${last_rows:-0}
    if ! out=$("$build/tests/reliability/crash_saver" check "$dir" "$saved" "$committed" 2>&1); then
      cbad=$((cbad + 1))
      say "  kill $k: $out"
    fi
    last_rows=$(sed -n 's/^OK counter [0-9]* runs //p' <<< "$out")
    last_counter=$(sed -n 's/^OK counter \([0-9]*\) .*/\1/p' <<< "$out")
    [ -n "$last_rows" ] || last_rows=$committed
    [ -n "$last_counter" ] || last_counter=$saved
  done
  final=$(sed -n 's/^PowerID=\([0-9]*\).*/\1/p' "$dir/Config.Ini" | tr -d '\r')
  say "  after $kills kills: counter $final, $last_rows runs in the record"
  verdict "crash safety" "$([ "$cbad" = 0 ] && echo 0 || echo 1)" \
    "$((kills - cbad)) of $kills kills left Config.Ini and the record sound (counter $final, $last_rows runs)"
fi

# ---------------------------------------------------------------------------------------------
# The single instance: twenty starts at once leave one; garbage on its socket changes nothing.
if wants instance; then
  say "== single instance"
  dir=$work/instance
  mkdir -p "$dir"
  cp "$build/korvex-calibrator" "$dir/"
  printf '[Ports]\r\nCOM1=/dev/null-none\r\n' > "$dir/Config.Ini"
  export QT_QPA_PLATFORM=offscreen
  pids=()
  for i in $(seq 1 20); do
    "$dir/korvex-calibrator" > "$work/instance-$i.log" 2>&1 &
    pids+=($!)
  done
  sleep 8
  alive=()
  for p in "${pids[@]}"; do kill -0 "$p" 2> /dev/null && alive+=("$p"); done
  probe=$("$build/tests/reliability/instance_probe" 2>&1 | tail -n 1)
  sleep 1
  after=0
  for p in "${pids[@]}"; do kill -0 "$p" 2> /dev/null && after=$((after + 1)); done
  say "  20 started, ${#alive[@]} running 8 s later; garbage on the socket: $probe; then $after running"
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null; done
  wait 2> /dev/null
  unset QT_QPA_PLATFORM
  ok=1
  [ "${#alive[@]}" = 1 ] && [ "$after" = 1 ] && [ "$probe" = ALIVE ] && ok=0
  verdict "single instance" "$ok" "20 simultaneous starts left ${#alive[@]}, garbage on its socket: $probe, $after still running"
fi

# ---------------------------------------------------------------------------------------------
# The soak: whole calibrations back to back against a supply with random faults.
if wants soak; then
  say "== soak: $soak_runs calibrations, random faults from seed $soak_seed"
  dir=$work/soak
  mkdir -p "$dir"
  cp "$build/korvex-calibrator" "$dir/"
  "$build/tools/psu-sim" --random-faults "$soak_seed" > "$dir/sim.log" 2>&1 &
  sim=$!
  for _ in $(seq 50); do grep -q '^PTY ' "$dir/sim.log" && break; sleep 0.1; done
  printf '[Ports]\r\nCOM1=%s\r\n' "$(sed -n 's/^PTY //p' "$dir/sim.log")" > "$dir/Config.Ini"
  start=$(date +%s)
  QT_QPA_PLATFORM=offscreen "$dir/korvex-calibrator" --automatic --levels "$dir/sim.log" --runs "$soak_runs" \
    > "$dir/soak.out" 2>&1
  rc=$?
  kill "$sim" 2> /dev/null
  wait "$sim" 2> /dev/null
  elapsed=$(( $(date +%s) - start ))
  grep '^SOAK' "$dir/soak.out" > "$work/soak"
  cp "$dir/soak.out" "$here/soak.out" 2> /dev/null || true
  outcomes=$(awk '{print $4}' "$work/soak" | sort | uniq -c | awk '{printf "%s%s %s", sep, $1, $2; sep=", "}')
  faults=$(grep -cE '^(NOANSWER|TX .*\[)' "$dir/sim.log")
  # Resident memory and descriptors from the 10th run on: the first is the base, growth is the
  # difference from it to the largest after it.
  read -r rss10 rssmax rsslast fds10 fdsmin fdsmax runs <<< "$(awk '
    { n++; rss = $6; fds = $9 }
    n == 10 { r10 = rss; f10 = fds; rmax = rss; fmin = fds; fmax = fds }
    n > 10 { if (rss > rmax) rmax = rss; if (fds < fmin) fmin = fds; if (fds > fmax) fmax = fds }
    END { print r10 + 0, rmax + 0, rss + 0, f10 + 0, fmin + 0, fmax + 0, n + 0 }' "$work/soak")"
  growth=$((rssmax - rss10))
  say "  $runs runs in $elapsed s: $outcomes; $faults answers the supply spoiled or left out"
  say "  resident memory at run 10 $rss10 kB, largest after $rssmax kB (+$growth kB), last $rsslast kB"
  say "  open descriptors at run 10 $fds10, from then on $fdsmin..$fdsmax"
  grep '^RESULT' "$dir/soak.out" | sed 's/^/  /'
  ok=1
  # Flat: no descriptor more, and memory within 1 MB of run 10's (allocator noise, not a leak).
  [ "$rc" = 0 ] && [ "$runs" = "$soak_runs" ] && [ "$fdsmax" = "$fds10" ] && [ "$growth" -le 1024 ] && ok=0
  verdict "soak" "$ok" "$runs of $soak_runs runs ($outcomes), seed $soak_seed, RSS +$growth kB and descriptors $fds10..$fdsmax from run 10 on"
fi

say ""
say "== reliability summary"
for line in "${summary[@]}"; do say "  $line"; done
exit "$failed"
