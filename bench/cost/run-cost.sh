#!/usr/bin/env bash
# Cost per reading: what zrq-log and ZRQUSB (Qt's offscreen platform) spend
# while they stream from tks7730-sim (serial, 9600 baud, 100 ms line period)
# and, for ZRQUSB, while it sits disconnected. Each case runs as a user runs
# it; after a warm-up, two windows of COST_SECONDS (default 20) each:
#   1. from /proc alone: CPU in % of one core (all threads) and wake-ups
#      (voluntary + involuntary context switches) per second, per thread;
#   2. under strace (-f -c, sched_yield only): sched_yield calls. C++
#      exceptions thrown are counted in both windows by a preloaded
#      __cxa_throw counter built here with cc.
# Per fetch: the panel and the logger fetch a data line every 600 ms, so a
# window holds COST_SECONDS / 0.6 fetches.
# Goals: zrq-log streaming at most 0.2 % of a core, no sched_yield and no
# exception per fetch; ZRQUSB streaming (panel only) at most 0.6 % of a core
# and 25 wake-ups/s, with the four reading windows open (panel-windows) at
# most 1.15 x that; ZRQUSB disconnected at most 0.2 wake-ups/s.
#
#   bash bench/cost/run-cost.sh            COST_SECONDS=30 bash bench/cost/run-cost.sh
#   COST_CASES="log-stream" bash bench/cost/run-cost.sh
#
# BUILD names a build folder with bin/zrq-log, bin/ZRQUSB, bin/libZervDCom.so
# and bin/tks7730-sim (default build/normal); BIN names the bin folder itself.
# Needs strace (scripts/packages-test.txt) and a C compiler. COST_KEEP=1 keeps
# the work folder. Not part of the test suite.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$repo/build/normal}
bin=${BIN:-$build/bin}
seconds=${COST_SECONDS:-20}
warmup=${COST_WARMUP:-8}
cases=${COST_CASES:-"log-stream panel-stream panel-windows panel-idle"}
for p in zrq-log ZRQUSB tks7730-sim libZervDCom.so; do
  [[ -e $bin/$p ]] || { echo "run-cost.sh: $bin/$p missing (build it first)" >&2; exit 1; }
done
command -v strace >/dev/null || { echo "run-cost.sh: strace is not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zrq-cost.XXXXXX")
sim_pid= app_pid=
stop_all() {
  for p in $app_pid $sim_pid; do kill "$p" 2>/dev/null || true; done
  for p in $app_pid $sim_pid; do wait "$p" 2>/dev/null || true; done
  app_pid= sim_pid=
}
cleanup() {
  stop_all
  [[ -n ${COST_KEEP:-} ]] && echo "work folder: $work" || rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 0700 "$work/run" "$work/usb"
export XDG_RUNTIME_DIR=$work/run ZRQ_LOG_DIR=$work/logs

# The exception counter: every __cxa_throw of the process adds one to a
# number kept in the file $ZRQ_THROW_COUNT.
cat >"$work/throwcount.c" <<'EOF'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
typedef void (*throw_fn)(void*, void*, void (*)(void*));
static atomic_long count;
static int fd = -1;
__attribute__((constructor)) static void init(void) {
  const char* path = getenv("ZRQ_THROW_COUNT");
  if (path) fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) (void)!pwrite(fd, "0\n", 2, 0);
}
void __cxa_throw(void* obj, void* type, void (*dest)(void*)) {
  static throw_fn real;
  if (!real) real = (throw_fn)dlsym(RTLD_NEXT, "__cxa_throw");
  const long n = atomic_fetch_add(&count, 1) + 1;
  if (fd >= 0) {
    char text[32];
    const int len = snprintf(text, sizeof text, "%ld\n", n);
    (void)!pwrite(fd, text, (size_t)len, 0);
  }
  real(obj, type, dest);
  __builtin_unreachable();
}
EOF
cc -shared -fPIC -O2 -o "$work/throwcount.so" "$work/throwcount.c" -ldl

calc() { awk "BEGIN {printf \"%.6f\", $*}"; }
# CPU time of all threads in nanoseconds (schedstat: finer than the clock ticks of stat).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%.0f", s}'; }
throws() { cat "$work/throws" 2>/dev/null || echo 0; }
# tid name switches, one line per thread
switches() {
  local t
  for t in /proc/"$1"/task/*; do
    [[ -r $t/status ]] || continue
    awk -v tid="${t##*/}" -v name="$(tr ' ' '_' <"$t/comm" 2>/dev/null)" \
      '/^(voluntary|nonvoluntary)_ctxt_switches:/ {s += $2} END {print tid, name, s}' \
      "$t/status" 2>/dev/null || true
  done
}

start_sim() {
  rm -f "$work/sim.out"
  "$bin/tks7730-sim" --baud 9600 --interval 100 >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do grep -q '^serial: ' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
  serial=$(sed -n 's/^serial: //p' "$work/sim.out" | head -n 1)
  [[ -n $serial ]] || { echo "run-cost.sh: the simulator did not start" >&2; cat "$work/sim.err" >&2; exit 1; }
}

start_app() {  # case
  local env=(ZRQ_SERIAL_PORTS="$serial" ZERVDCOM_HID_SIM_DIR="$work/usb"
             ZRQ_THROW_COUNT="$work/throws" LD_PRELOAD="$work/throwcount.so")
  case $1 in
    log-stream)
      env "${env[@]}" "$bin/zrq-log" --port "$serial" --out "$work/log.csv" \
        >"$work/app.out" 2>"$work/app.err" &
      ;;
    panel-stream)
      env "${env[@]}" QT_QPA_PLATFORM=offscreen "$bin/ZRQUSB" --connect "$serial" --unattended \
        >"$work/app.out" 2>"$work/app.err" &
      ;;
    panel-windows)
      env "${env[@]}" QT_QPA_PLATFORM=offscreen "$bin/ZRQUSB" --connect "$serial" --unattended \
        --open meter,rflmeter,peak,burst >"$work/app.out" 2>"$work/app.err" &
      ;;
    panel-idle)
      env "${env[@]}" QT_QPA_PLATFORM=offscreen "$bin/ZRQUSB" --unattended \
        >"$work/app.out" 2>"$work/app.err" &
      ;;
  esac
  app_pid=$!
}

run_case() {  # case
  local c=$1
  start_sim
  start_app "$c"
  sleep "$warmup"
  kill -0 "$app_pid" 2>/dev/null || { echo "run-cost.sh: $c ended early" >&2; cat "$work/app.err" >&2; exit 1; }

  # Window 1: /proc only.
  switches "$app_pid" >"$work/sw0"
  local c0 x0 t0 c1 x1 t1
  c0=$(cpu_ns "$app_pid"); x0=$(throws); t0=$(date +%s.%N)
  sleep "$seconds"
  c1=$(cpu_ns "$app_pid"); x1=$(throws); t1=$(date +%s.%N)
  switches "$app_pid" >"$work/sw1"
  local el
  el=$(calc "$t1 - $t0")

  # Window 2: sched_yield under strace.
  local y0 y1
  y0=$(throws)
  timeout -s INT "$seconds" strace -f -c -e trace=sched_yield -o "$work/strace" -p "$app_pid" \
    2>/dev/null || true
  y1=$(throws)
  local yields
  yields=$(awk '$NF == "sched_yield" {print $4}' "$work/strace" 2>/dev/null)
  yields=${yields:-0}
  stop_all

  local fetches
  fetches=$(calc "$seconds / 0.6")
  if [[ $c == panel-idle ]]; then
    echo "== $c (${seconds} s windows, no fetches: figures per window)"
    fetches=1
  else
    echo "== $c (${seconds} s windows, $(printf %.0f "$fetches") fetches each)"
  fi
  cpu_of[$c]=$(calc "100 * ($c1 - $c0) / 1e9 / $el")
  printf '  CPU                 %8.3f %% of a core\n' "${cpu_of[$c]}"
  awk -v el="$el" 'NR == FNR {s[$1] = $3; next}
       {d = $3 - ($1 in s ? s[$1] : 0); tot += d; printf "  wake-ups/s  %-16s %8.2f\n", $2 "/" $1, d / el}
       END {printf "  wake-ups/s  %-16s %8.2f\n", "(all threads)", tot / el}' \
    "$work/sw0" "$work/sw1"
  printf '  sched_yield         %8d   (%.1f per fetch)\n' "$yields" "$(calc "$yields / $fetches")"
  printf '  exceptions          %8d   (%.2f per fetch; window 1: %d)\n' "$(( y1 - y0 ))" \
    "$(calc "($y1 - $y0) / $fetches")" "$(( x1 - x0 ))"
  case $c in
    log-stream)
      echo "  goals: <= 0.2 % of a core, 0 sched_yield, 0 exceptions per fetch" ;;
    panel-stream)
      echo "  goals: <= 0.6 % of a core, <= 25 wake-ups/s (all threads)" ;;
    panel-idle)
      echo "  goal: <= 0.2 wake-ups/s (all threads)" ;;
  esac
}

declare -A cpu_of
for c in $cases; do run_case "$c"; done
if [[ -n ${cpu_of[panel-stream]:-} && -n ${cpu_of[panel-windows]:-} ]]; then
  printf '== the four reading windows open: CPU x%.2f the panel alone (goal <= 1.15)\n' \
    "$(calc "${cpu_of[panel-windows]} / ${cpu_of[panel-stream]}")"
fi
