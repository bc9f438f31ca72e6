#!/usr/bin/env bash
# The reliability suite: the fault matrix, the fuzzers, crash safety, the single instance and a
# soak. Each part prints its own summary and the suite ends with all of them together.
# Usage: tests/reliability/run.sh [matrix] [fuzz] [crash] [instance] [soak] [line] [bench]   (all when none)
# Environment: BUILD (build-reliability), FUZZ_BUILD (build-fuzz), JOBS (4 cells at a time),
# FUZZ_RUNS (10000000 per target), FUZZ_TARGETS (all), FUZZ_EXTRA (none), FUZZ_FORK (1 process per
# target; more: one campaign shared by that many processes), KILLS (500), SOAK_RUNS (200), SOAK_SEED (20261208),
# LINE_BENCHES (8), LINE_RUNS (4 calibrations each).
set -uo pipefail
here=${KORVEX_ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${BUILD:-$here/build-reliability}
fuzz_build=${FUZZ_BUILD:-$here/build-fuzz}
jobs=${JOBS:-4}
fuzz_runs=${FUZZ_RUNS:-10000000}
fuzz_fork=${FUZZ_FORK:-1}
kills=${KILLS:-500}
soak_runs=${SOAK_RUNS:-200}
soak_seed=${SOAK_SEED:-20261208}
line_benches=${LINE_BENCHES:-8}
line_runs=${LINE_RUNS:-4}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
summary=()
failed=0

say() { printf '%s\n' "$*"; }
portable_folder() {  # portable_folder <dir> <COM1 device>: the calibrator and its Config.Ini side by side
  mkdir -p "$1"
  cp "$build/shell/korvex-calibrator" "$1/"
  printf '[Ports]\r\nCOM1=%s\r\n' "$2" > "$1/Config.Ini"
}
verdict() {  # verdict <part> <failures, 0 for none> <text>
  if [ "$2" = 0 ]; then summary+=("$1: ok, $3"); else summary+=("$1: FAILED, $3"); failed=1; fi
}

# One cell of the matrix, run by xargs: writes "<id> <expected> <what fault_cell printed>".
if [ "${1:-}" = _cell ]; then
  id=$2 expected=$3 kind=$4
  shift 4
  line=$(CELL_LOG=$CELL_LOGS/$id.log "$build/tests/reliability/fault_cell" "$build/tools/psu-sim" "$kind" "$@" 2> /dev/null |
         grep '^CELL' | tail -n 1)
  [ -n "$line" ] || line="CELL end=crashed values=? serial=?"
  printf '%s %s %s\n' "$id" "$expected" "$line"
  exit 0
fi

# The single-instance check: prints the counts it saw. It, the soak and each calibration of the line
# get a runtime folder of their own (mktemp -d, 0700) and so meet no other calibrator of this user.
if [ "${1:-}" = _instance ]; then
  dir=$2
  export QT_QPA_PLATFORM=offscreen
  pids=()
  for i in $(seq 1 20); do
    "$dir/korvex-calibrator" > "$dir/start-$i.log" 2>&1 &
    pids+=($!)
  done
  sleep 8
  alive=0
  for p in "${pids[@]}"; do kill -0 "$p" 2> /dev/null && alive=$((alive + 1)); done
  probe=$("$build/tests/reliability/instance_probe" 2>&1 | tail -n 1)
  sleep 1
  after=0
  for p in "${pids[@]}"; do kill -0 "$p" 2> /dev/null && after=$((after + 1)); done
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null; done
  wait 2> /dev/null
  printf 'INSTANCE alive=%s after=%s probe=%s\n' "$alive" "$after" "${probe// /_}"
  exit 0
fi

parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(matrix fuzz crash instance soak line bench)
wants() { local p; for p in "${parts[@]}"; do [ "$p" = "$1" ] && return 0; done; return 1; }

if wants matrix || wants crash || wants instance || wants soak || wants line || wants bench; then
  say "== building the programs under test in $build"
  KORVEX_BUILD_TARGETS="korvex-calibrator korvex-results psu-sim fault_cell crash_saver instance_probe pg_fixture" \
    "$here/scripts/setup.sh" "$build" > "$work/build.log" 2>&1 || { tail -n 30 "$work/build.log"; exit 1; }
fi

# ---------------------------------------------------------------------------------------------
# The fault matrix. A calibration sends 22 frames: calibrator steps 1, 3, 4, 6, 25, 26 and 29 are
# the supply's 1st, 3rd, 4th, 5th, 18th, 19th and 22nd frame (the meter steps send none). A
# clearing run sends 5. Each fault applies at its step only.
if wants matrix; then
  say "== fault matrix"
  steps=(1:1 3:3 4:4 6:5 25:18 26:19 29:22)
  clear_steps=(1 2 3 4 5)
  # fault label | expected calibration end | expected clearing end | psu-sim options (@ is the step).
  # A step that never gets its answer waits for ever, still active, except the serial number and
  # the testing information (25, 26), whose run fails. Noise in the same write as the answer spoils
  # that answer (a read of 26 bytes or more is taken from its first byte), so noise on every answer
  # is the same as no answer.
  faults=(
    "none|finished|cleared|"
    "no answer|stalled,25:failed,26:failed|clearing_failed|--no-answer-step @"
    "dropped|finished|cleared|--no-answer-step @x1"
    "bad checksum|finished|cleared|--at-step @ --bad-checksum allx1"
    "wrong address|finished|cleared|--at-step @ --wrong-address allx1"
    "split|finished|cleared|--at-step @ --split 3,10"
    "duplicated|finished|cleared|--at-step @ --duplicate all"
    "noise once|finished|cleared|--at-step @ --noise allx1"
    "noise always|stalled,25:failed,26:failed|clearing_failed|--at-step @ --noise all"
    "delay 300 ms|finished|cleared|--at-step @ --delay-ms 300"
    "hang-up|stalled,25:failed,26:failed|clearing_failed|--hangup-step @"
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
      want=${cal%%,*}
      for o in $(tr ',' ' ' <<< "${cal#*,}"); do [ "${o%%:*}" = "${s%%:*}" ] && want=${o#*:}; done
      echo "cal:$key:${s%%:*} $want calibration ${opts//@/${s##*:}}" >> "$cells"
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
  export CELL_LOGS=$work/cells.d
  mkdir -p "$CELL_LOGS"
  start=$(date +%s)
  # A line ending in a blank would run on into the next one for xargs.
  sed -i 's/ *$//' "$cells"
  xargs -P "$jobs" -L 1 "$0" _cell < "$cells" > "$work/matrix" 2>&1
  elapsed=$(( $(date +%s) - start ))
  check_cell() {  # check_cell <id>: the cell's end, marked with '!' when it is not what it should be
    local line exp end values serial
    line=$(grep "^$1 " "$work/matrix" | head -n 1)
    [ -n "$line" ] || { printf 'missing!'; return; }
    exp=$(cut -d' ' -f2 <<< "$line")
    end=$(sed -n 's/.* end=\([^ ]*\).*/\1/p' <<< "$line")
    values=$(sed -n 's/.* values=\([^ ]*\).*/\1/p' <<< "$line")
    serial=$(sed -n 's/.* serial=\([^ ]*\).*/\1/p' <<< "$line")
    if [ "$end" = "$exp" ] && [ "$values" = ok ] && [ "$serial" = ok ]; then
      printf '%s' "$end"
    else
      printf '%s!values=%s,serial=%s,want=%s' "$end" "$values" "$serial" "$exp"
      mkdir -p "$build/reliability-logs" && cp "$CELL_LOGS/$1.log" "$build/reliability-logs/" 2> /dev/null
    fi
  }
  {
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
  } > "$work/matrix.txt"
  cat "$work/matrix.txt"
  bad=$(grep -o '!' "$work/matrix.txt" | wc -l)
  total=$(wc -l < "$cells")
  say "(every cell: the run's end; values and serial numbers on the wire checked; '!' marks a cell that is not as it should be)"
  verdict "fault matrix" "$bad" "$((total - bad)) of $total cells as they should be, $elapsed s"
fi

# ---------------------------------------------------------------------------------------------
# libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer, every library instrumented.
if wants fuzz; then
  say "== fuzzing, $fuzz_runs executions per target"
  if ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed"; then
    if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends clang libclang-rt-14-dev > "$work/apt.log" 2>&1
  fi
  # target:folder:longest input. The engine's and the INI file's inputs are kept short enough for
  # ten million runs in an afternoon; their records still reach every step many times over.
  targets=(fuzz_ReplyHandling:engine:256 fuzz_IniFile:config:512 fuzz_ReplyAssembler:link:4096
           fuzz_ValueEntry:operator:4096 fuzz_MeterReply:meter:4096)
  if [ -n "${FUZZ_TARGETS:-}" ]; then  # a campaign on some of them: FUZZ_TARGETS="fuzz_IniFile fuzz_MeterReply"
    chosen=()
    for t in "${targets[@]}"; do [[ " $FUZZ_TARGETS " == *" ${t%%:*} "* ]] && chosen+=("$t"); done
    targets=("${chosen[@]}")
  fi
  names=()
  for t in "${targets[@]}"; do names+=("${t%%:*}"); done
  if ! { CC=clang CXX=clang++ cmake -S "$here" -B "$fuzz_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEX_FUZZ=ON \
           "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
           "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" > "$work/fuzz-build.log" 2>&1 &&
         cmake --build "$fuzz_build" -j"$(nproc)" --target "${names[@]}" >> "$work/fuzz-build.log" 2>&1; }; then
    tail -n 30 "$work/fuzz-build.log"
    verdict "fuzzing" 1 "the fuzz targets did not build"
  else
    # A small quarantine and short allocation stacks: the runs allocate much, and speed counts here.
    export ASAN_OPTIONS=abort_on_error=1:quarantine_size_mb=16:malloc_context_size=5
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    fuzz_one() {  # fuzz_one <target> <folder> <max len>: on a copy of the corpus, so the stored one stays as it is
      local name=$1 dir=$2 corpus=$work/corpus-$1
      mkdir -p "$corpus" && cp "$here/tests/$dir/corpus/"* "$corpus/"
      # Inputs an earlier campaign found may seed this one (FUZZ_EXTRA/<target>/).
      [ -d "${FUZZ_EXTRA:-/nonexistent}/$name" ] && cp "$FUZZ_EXTRA/$name/"* "$corpus/" 2> /dev/null
      local start; start=$(date +%s)
      local fork=(); [ "$fuzz_fork" -gt 1 ] && fork=(-fork="$fuzz_fork")
      "$fuzz_build/tests/$dir/$name" "${fork[@]}" -runs="$fuzz_runs" -max_len="$3" -print_final_stats=1 \
        -artifact_prefix="$work/$name-" "$corpus" > "$work/$name.log" 2>&1
      local rc=$?
      # A forked campaign counts its processes' runs together on its "#N:" lines and has no final stats.
      local execs; execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
      [ -n "$execs" ] || execs=$(sed -n 's/^#\([0-9]*\): .*/\1/p' "$work/$name.log" | tail -n 1)
      printf '%s rc=%s execs=%s seconds=%s\n' "$name" "$rc" "${execs:-0}" "$(( $(date +%s) - start ))" >> "$work/fuzz"
    }
    : > "$work/fuzz"
    running=0
    for t in "${targets[@]}"; do
      IFS=: read -r t_name t_dir t_len <<< "$t"
      fuzz_one "$t_name" "$t_dir" "$t_len" &
      running=$((running + 1))
      if [ "$running" -ge "$(nproc)" ]; then wait -n; running=$((running - 1)); fi
    done
    wait
    fbad=0
    for t in "${targets[@]}"; do
      IFS=: read -r n t_dir t_len <<< "$t"
      line=$(grep "^$n " "$work/fuzz")
      say "  $line"
      rc=$(sed -n 's/.* rc=\([0-9]*\).*/\1/p' <<< "$line")
      execs=$(sed -n 's/.* execs=\([0-9]*\).*/\1/p' <<< "$line")
      if [ "$rc" != 0 ] || [ "${execs:-0}" -lt "$fuzz_runs" ]; then
        fbad=$((fbad + 1))
        grep -m 20 -E 'ERROR|runtime error|SUMMARY|artifact' "$work/$n.log" | sed 's/^/    /'
        mkdir -p "$fuzz_build/findings" && cp "$work/$n-"* "$fuzz_build/findings/" 2> /dev/null
      fi
    done
    verdict "fuzzing" "$fbad" \
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
  verdict "crash safety" "$cbad" \
    "$((kills - cbad)) of $kills kills left Config.Ini and the record sound (counter $final, $last_rows runs)"
fi

# ---------------------------------------------------------------------------------------------
# The single instance: twenty starts at once leave one; garbage on its socket changes nothing.
if wants instance; then
  say "== single instance"
  dir=$work/instance
  portable_folder "$dir" /dev/null-none
  line=$(XDG_RUNTIME_DIR=$(mktemp -d -p "$work") "$0" _instance "$dir" | grep '^INSTANCE')
  alive=$(sed -n 's/.*alive=\([0-9]*\).*/\1/p' <<< "$line")
  after=$(sed -n 's/.*after=\([0-9]*\).*/\1/p' <<< "$line")
  probe=$(sed -n 's/.*probe=\(.*\)/\1/p' <<< "$line" | tr '_' ' ')
  say "  20 started, $alive running 8 s later; garbage on its socket: $probe; then $after running"
  ok=1
  [ "$alive" = 1 ] && [ "$after" = 1 ] && [[ "$probe" == ALIVE* ]] && ok=0
  verdict "single instance" "$ok" "20 simultaneous starts left $alive, garbage on its socket: $probe, $after still running"
fi

# ---------------------------------------------------------------------------------------------
# The soak: whole calibrations back to back against a supply with random faults.
if wants soak; then
  say "== soak: $soak_runs calibrations, random faults from seed $soak_seed"
  dir=$work/soak
  mkdir -p "$dir"
  "$build/tools/psu-sim" --random-faults "$soak_seed" > "$dir/sim.log" 2>&1 &
  sim=$!
  for _ in $(seq 50); do grep -q '^PTY ' "$dir/sim.log" && break; sleep 0.1; done
  portable_folder "$dir" "$(sed -n 's/^PTY //p' "$dir/sim.log")"
  start=$(date +%s)
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$(mktemp -d -p "$work") "$dir/korvex-calibrator" --automatic --levels "$dir/sim.log" --runs "$soak_runs" \
    > "$dir/soak.out" 2>&1
  rc=$?
  kill "$sim" 2> /dev/null
  wait "$sim" 2> /dev/null
  elapsed=$(( $(date +%s) - start ))
  grep '^SOAK' "$dir/soak.out" > "$work/soak.lines"
  cp "$dir/soak.out" "$build/soak.out" 2> /dev/null || true
  outcomes=$(awk '{print $4}' "$work/soak.lines" | sort | uniq -c | awk '{printf "%s%s %s", sep, $1, $2; sep=", "}')
  faults=$(grep -cE '^(NOANSWER|TX .*\[)' "$dir/sim.log")
  # Resident memory and descriptors from the 10th run on: the first is the base, growth is the
  # difference from it to the largest after it.
  read -r rss10 rssmax rsslast fds10 fdsmin fdsmax runs <<< "$(awk '
    { n++; rss = $6; fds = $9 }
    n == 10 { r10 = rss; f10 = fds; rmax = rss; fmin = fds; fmax = fds }
    n > 10 { if (rss > rmax) rmax = rss; if (fds < fmin) fmin = fds; if (fds > fmax) fmax = fds }
    END { print r10 + 0, rmax + 0, rss + 0, f10 + 0, fmin + 0, fmax + 0, n + 0 }' "$work/soak.lines")"
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

# ---------------------------------------------------------------------------------------------
# A line of benches: calibrators at once against supplies without a serial number, each taking its
# numbers from one PostgreSQL server, set up as the README says (one role per bench, the line's
# tables owned by a role they all act as).
if wants line; then
  say "== line: $line_benches benches at once, $line_runs calibrations each, one PostgreSQL server"
  dir=$work/line
  mkdir -p "$dir"
  sql=("CREATE ROLE korvex_line NOLOGIN" "CREATE DATABASE korvex OWNER korvex_line")
  for i in $(seq 1 "$line_benches"); do
    sql+=("CREATE ROLE bench_$i LOGIN PASSWORD 'pw-$i' IN ROLE korvex_line" "ALTER ROLE bench_$i SET role = 'korvex_line'")
  done
  coproc PG { "$build/tests/reliability/pg_fixture" "${sql[@]}" 2> "$dir/pg.err"; }
  read -r _ pgdir pgport <&"${PG[0]}"
  cals=()
  if [ -z "${pgport:-}" ]; then
    cat "$dir/pg.err"
  else
    start=$(date +%s)
    # A bench's supplies come one after another: a new simulated supply, without a number, each time.
    line_bench() {  # line_bench <i>: its calibrations, then how many failed
      local i=$1 b=$dir/bench-$1 k sim bad=0
      mkdir -p "$b"
      printf 'pw-%s\n' "$i" > "$b/pw" && chmod 600 "$b/pw"
      for k in $(seq 1 "$line_runs"); do
        "$build/tools/psu-sim" --serial none > "$b/sim-$k.log" 2>&1 &
        sim=$!
        for _ in $(seq 50); do grep -qs "^PTY " "$b/sim-$k.log" && break; sleep 0.1; done
        portable_folder "$b" "$(sed -n 's/^PTY //p' "$b/sim-$k.log")"
        # The server is reached through its socket folder, without TLS: the machine is the network.
        printf '[Database]\r\nDriver=QPSQL\r\nHost=%s\r\nPort=%s\r\nDatabase=korvex\r\nUser=bench_%s\r\nPasswordFile=pw\r\nBench=bench-%s\r\nTrustedNetwork=yes\r\n' \
          "$pgdir" "$pgport" "$i" "$i" >> "$b/Config.Ini"
        QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$(mktemp -d -p "$work") "$b/korvex-calibrator" --automatic --levels "$b/sim-$k.log" \
          >> "$b/cal.out" 2>&1 || bad=$((bad + 1))
        kill "$sim" 2> /dev/null
        wait "$sim" 2> /dev/null
      done
      echo "$bad" > "$b/failed"
    }
    for i in $(seq 1 "$line_benches"); do
      line_bench "$i" &
      cals+=($!)
    done
    for p in "${cals[@]}"; do wait "$p"; done
    elapsed=$(( $(date +%s) - start ))
    lbad=$(cat "$dir"/bench-*/failed | awk '{n += $1} END {print n + 0}')
    # The runs reach the server through each bench's queue a moment after their end.
    sleep 2
    q() { PGCONNECT_TIMEOUT=5 psql -h "$pgdir" -p "$pgport" -U postgres -d korvex -X -q -At -c "$1" 2>&1; }
    allocated=$(q "SELECT count(*) FROM SerialAllocation")
    distinct=$(q "SELECT count(DISTINCT serial) FROM SerialAllocation")
    written=$(q "SELECT count(*) FROM SerialAllocation WHERE state = 'written'")
    runs=$(q "SELECT count(*) FROM TestResult WHERE result = 'finished'")
    # Each number the line gave is the one its bench's run wrote, and no two runs wrote the same.
    matched=$(q "SELECT count(*) FROM SerialAllocation a JOIN TestResult r ON r.run_uid = a.run_uid
                 WHERE r.serial_written = lpad(a.serial::text, 6, '0') AND r.bench = a.bench")
    twice=$(q "SELECT count(*) FROM (SELECT serial_written FROM TestResult WHERE serial_written IS NOT NULL
               GROUP BY serial_written HAVING count(*) > 1) t")
    benches=$(q "SELECT count(DISTINCT bench) FROM SerialAllocation")
    expected=$((line_benches * line_runs))
    say "  $expected calibrations in $elapsed s, $lbad failed; $allocated numbers given ($distinct distinct, $written written, by $benches benches)"
    say "  $runs finished runs on the server, $matched of them wrote the number the line gave their bench, $twice numbers written twice"
    ok=1
    [ "$lbad" = 0 ] && [ "$allocated" = "$expected" ] && [ "$distinct" = "$expected" ] && [ "$written" = "$expected" ] &&
      [ "$runs" = "$expected" ] && [ "$matched" = "$expected" ] && [ "$twice" = 0 ] && [ "$benches" = "$line_benches" ] && ok=0
    [ "$ok" = 0 ] || for f in "$dir"/bench-*/cal.out; do grep -E 'RESULT|box' "$f" | tail -n 3 | sed 's/^/    /'; done
    verdict "line" "$ok" "$line_benches benches x $line_runs calibrations: $allocated numbers given, $distinct distinct, $matched written as given"
  fi
  exec {PG[1]}>&-
  wait "$PG_PID" 2> /dev/null
  [ -n "${pgport:-}" ] || verdict "line" 1 "the PostgreSQL server did not start"
fi

# ---------------------------------------------------------------------------------------------
# A bench as installed and as its operators use it: a shared folder as the package makes it, two
# operators of its group and a supervisor outside it (users this part makes, as root), a full
# disk, and a Config.Ini that cannot be read. Each row prints what happened and '!' when it is not
# what it should be.
if wants bench; then
  say "== bench: two operators and a supervisor, a full disk, an unreadable Config.Ini"
  if [ "$(id -u)" -ne 0 ]; then
    verdict "bench" 1 "needs root to make the operators and to mount a small disk"
  else
    for u in korvex-op-a korvex-op-b; do id "$u" > /dev/null 2>&1 || useradd -m -G dialout "$u"; done
    id korvex-sup > /dev/null 2>&1 || useradd -m korvex-sup
    # Somewhere every user may reach, unlike $work.
    top=$(mktemp -d /var/tmp/korvex-bench.XXXXXX)
    chmod 755 "$top"
    cp "$build/shell/korvex-calibrator" "$build/tools/korvex-results" "$build/tools/psu-sim" "$top/"
    brows=()
    bbad=0
    row() {  # row <label> <what happened> <ok 0/1>
      local mark=""; [ "$3" = 0 ] || { mark="!"; bbad=$((bbad + 1)); }
      brows+=("$(printf '  %-58s %s%s' "$1" "$2" "$mark")")
    }
    # calibrate <user> <folder> [psu-sim options]: one automatic calibration; prints its exit
    # status, the serial number the supply holds and what the calibrator said, on one line each.
    calibrate() {
      local u=$1 folder=$2 log rt; shift 2
      log=$(mktemp -p "$top") rt=$(mktemp -d -p "$top")
      chown "$u" "$log" "$rt"
      runuser -u "$u" -- "$top/psu-sim" "$@" > "$log" 2>&1 &
      local sim=$!
      for _ in $(seq 50); do grep -q '^PTY ' "$log" && break; sleep 0.1; done
      # COM1 through a link outside the folder, which a full or unreadable Config.Ini cannot move;
      # the device itself over /dev/ttyS0 for a Config.Ini whose [Ports] cannot be read.
      ln -sfn "$(sed -n 's/^PTY //p' "$log")" "$top/com1"
      local said rc
      said=$(cd / && timeout 120 unshare -m sh -c "mount --bind $top/com1 /dev/ttyS0 2> /dev/null; exec runuser -u $u -- env \
        QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$rt $folder/korvex-calibrator --automatic --levels $log" 2>&1)
      rc=$?
      kill "$sim" 2> /dev/null; wait "$sim" 2> /dev/null
      echo "$rc"
      grep '^STATE' "$log" | tail -n 1 | sed -n 's/.*serial=\([^ ]*\).*/\1/p'
      grep -E 'RESULT|box "Error"|recorded as|readonly' <<< "$said" | tr '\n' ' '
      echo
    }
    # The shared folder as the package's scripts leave it.
    shared=$top/shared
    mkdir "$shared" && cp "$top/korvex-calibrator" "$top/korvex-results" "$shared/"
    chgrp dialout "$shared" && chmod 3775 "$shared"
    printf '[Ports]\r\nCOM1=%s\r\n' "$top/com1" > "$shared/Config.Ini"
    # As an earlier version left it: A's own, for A alone to write.
    chown korvex-op-a:dialout "$shared/Config.Ini" && chmod 644 "$shared/Config.Ini"
    serials=()
    for u in korvex-op-a korvex-op-b korvex-op-a; do
      mapfile -t out < <(calibrate "$u" "$shared" --serial none)
      serials+=("${out[1]}")
      ok=1; [ "${out[0]}" = 0 ] && [[ "${out[2]}" == *"recorded as run"* ]] && [[ "${out[2]}" != *readonly* ]] && ok=0
      row "$u calibrates a supply without a number" "exit ${out[0]}, serial ${out[1]}, ${out[2]}" "$ok"
    done
    distinct=$(printf '%s\n' "${serials[@]}" | sort -u | grep -c .)
    row "three supplies, three numbers" "${serials[*]}" "$([ "$distinct" = 3 ] && echo 0 || echo 1)"
    listed=$(cd / && runuser -u korvex-sup -- "$shared/korvex-results" list 2>&1 | tail -n +2 | grep -c .)
    row "the supervisor outside the group lists the runs" "$listed runs" "$([ "$listed" = 3 ] && echo 0 || echo 1)"
    chmod o-r "$shared/PowerTestDb.sqlite"
    said=$(cd / && runuser -u korvex-sup -- "$shared/korvex-results" list 2>&1)
    ok=1; [[ "$said" == *"ask the bench's administrator to add korvex-sup"* ]] && ok=0
    row "... and is told whom to ask when the record is closed to others" "${said#korvex-results: }" "$ok"
    chmod o+r "$shared/PowerTestDb.sqlite"
    # Operator B points the shared Config.Ini at a file of A's own.
    notes=/home/korvex-op-a/notes-$(basename "$top").txt
    echo "A's own notes" > "$notes" && chown korvex-op-a "$notes"
    cp "$shared/Config.Ini" "$top/Config.Ini.kept"
    runuser -u korvex-op-b -- sh -c "printf '[Results]\r\nDatabase=$notes\r\n' >> $shared/Config.Ini"
    mapfile -t out < <(calibrate korvex-op-a "$shared" --serial 4711)
    ok=1; [ "$(cat "$notes")" = "A's own notes" ] && ! ls "$notes".* > /dev/null 2>&1 && ok=0
    row "B's Config.Ini names A's notes as the record" "A's notes $( [ "$ok" = 0 ] && echo untouched || echo CHANGED), ${out[2]}" "$ok"
    rm -f "$notes"
    cp "$top/Config.Ini.kept" "$shared/Config.Ini"
    # A full disk: the first supply while there is room, then one on the full disk, then one
    # once there is room again.
    disk=$top/disk
    mkdir "$disk" && mount -t tmpfs -o size=40m tmpfs "$disk" && chmod 755 "$disk"
    cp "$top/korvex-calibrator" "$disk/"
    printf '[Ports]\r\nCOM1=%s\r\n[Config]\r\nPowerID=700\r\nEquality=0\r\n' "$top/com1" > "$disk/Config.Ini"
    mapfile -t out < <(calibrate root "$disk" --serial none)
    row "a supply with room on the disk" "serial ${out[1]}" "$([ "${out[1]}" = 000700 ] && echo 0 || echo 1)"
    before=$(md5sum < "$disk/Config.Ini")
    dd if=/dev/zero of="$disk/filler" bs=64k > /dev/null 2>&1
    for k in 1 2; do
      mapfile -t out < <(calibrate root "$disk" --serial none)
      ok=1; [ "${out[1]}" = none ] && [[ "${out[2]}" == *"Unable to write to $disk/Config.Ini"* ]] &&
        [ "$(md5sum < "$disk/Config.Ini")" = "$before" ] && ok=0
      row "a supply without a number on the full disk ($k)" "serial '${out[1]}', ${out[2]}" "$ok"
    done
    rm -f "$disk/filler"
    mapfile -t out < <(calibrate root "$disk" --serial none)
    row "the next supply once there is room again" "serial ${out[1]}" "$([ "${out[1]}" = 000701 ] && echo 0 || echo 1)"
    umount "$disk"
    # A Config.Ini that is there but cannot be read is no counter of 1.
    own=$top/own
    for kind in "another user's 0600 file" "a FIFO" "a folder"; do
      rm -rf "$own" && mkdir "$own" && chown korvex-op-a "$own" && cp "$top/korvex-calibrator" "$own/"
      case $kind in
        another*) printf '[Config]\r\nPowerID=700\r\n' > "$own/Config.Ini" && chown korvex-op-b "$own/Config.Ini" && chmod 600 "$own/Config.Ini" ;;
        "a FIFO") mkfifo "$own/Config.Ini" ;;
        "a folder") mkdir "$own/Config.Ini" ;;
      esac
      mapfile -t out < <(calibrate korvex-op-a "$own" --serial none)
      ok=1; [ "${out[0]}" != 124 ] && [ "${out[1]}" = none ] && [[ "${out[2]}" == *"the unit counter cannot give one"* ]] && ok=0
      row "Config.Ini is $kind" "exit ${out[0]}, serial '${out[1]}', ${out[2]}" "$ok"
    done
    printf '%s\n' "${brows[@]}"
    rm -rf "$top"
    verdict "bench" "$bbad" "$(( ${#brows[@]} - bbad )) of ${#brows[@]} rows as they should be"
  fi
fi

say ""
say "== reliability summary"
for line in "${summary[@]}"; do say "  $line"; done
exit "$failed"
