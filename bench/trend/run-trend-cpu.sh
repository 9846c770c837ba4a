#!/usr/bin/env bash
# ZRQUSB's CPU with the trend window open and streaming against the same run
# without it: the panel connected to tks7730-sim (serial, 100 ms line
# period), on Xvfb, after a warm-up; TREND_SECONDS (default 20) measured
# from /proc (every thread's schedstat) for each case, the two cases run one
# after the other, TREND_ROUNDS (default 4) times. The panel alone varies
# between runs on a shared machine by more than the trend adds, so each
# round's ratio is printed and the median of them judged.
# Goal: with the trend at most 1.3 x without it.
#
#   bash bench/trend/run-trend-cpu.sh        TREND_SECONDS=40 TREND_ROUNDS=6 bash bench/trend/run-trend-cpu.sh
#
# BUILD names a build folder with bin/ZRQUSB and bin/tks7730-sim (default
# build/normal). Needs xvfb-run. Not part of the test suite.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
bin=${BUILD:-$repo/build/normal}/bin
seconds=${TREND_SECONDS:-20}
warmup=${TREND_WARMUP:-6}
rounds=${TREND_ROUNDS:-4}
for p in ZRQUSB tks7730-sim; do
  [[ -x $bin/$p ]] || { echo "run-trend-cpu.sh: $bin/$p missing (build it first)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/zrq-trend-cpu.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -m 0700 "$work/run" "$work/cfg"

cat >"$work/case.sh" <<'INNER'
# $1: extra ZRQUSB options ("" or "--open trend"); prints CPU % of one core.
set -euo pipefail
"$BIN/tks7730-sim" --usb 0 --interval 100 >"$WORK/sim.out" 2>/dev/null &
sim=$!
for _ in $(seq 50); do grep -q /dev/pts "$WORK/sim.out" && break; sleep 0.1; done
port=$(grep -o '/dev/pts/[0-9]*' "$WORK/sim.out" | head -1)
ZRQ_SERIAL_PORTS=$port "$BIN/ZRQUSB" --connect "$port" $1 >/dev/null 2>&1 &
app=$!
sleep "$WARMUP"
# CPU time of every thread in ns (schedstat: finer than the clock ticks of stat).
ticks() { cat /proc/"$app"/task/*/schedstat | awk '{ n += $1 } END { printf "%d\n", n }'; }
t0=$(ticks); s0=$(date +%s.%N)
sleep "$SECONDS_"
t1=$(ticks); s1=$(date +%s.%N)
kill "$app" "$sim"; wait "$app" "$sim" 2>/dev/null || true
awk -v t="$((t1 - t0))" -v s0="$s0" -v s1="$s1" 'BEGIN { printf "%.3f\n", 100 * t / 1e9 / (s1 - s0) }'
INNER

run_case() {
  XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/cfg ZRQ_LOG_DIR=$work/logs \
    BIN=$bin WORK=$work WARMUP=$warmup SECONDS_=$seconds \
    xvfb-run -a -s "-screen 0 1920x1080x24" bash "$work/case.sh" "$1"
}

declare -a without with ratios
for round in $(seq "$rounds"); do
  without+=("$(run_case "")")
  with+=("$(run_case "--open trend")")
  ratios+=("$(awk -v a="${without[-1]}" -v b="${with[-1]}" 'BEGIN { printf "%.2f", (a > 0 ? b / a : 0) }')")
  echo "round $round: without the trend ${without[-1]} %, with it ${with[-1]} % of one core: ratio ${ratios[-1]}"
done
median() { sort -g | awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3g\n", m }'; }
base=$(printf '%s\n' "${without[@]}" | median)
trend=$(printf '%s\n' "${with[@]}" | median)
echo "ZRQUSB streaming: $base % without the trend, $trend % with it open (medians of $rounds rounds);" \
  "the rounds' ratios: median $(printf '%s\n' "${ratios[@]}" | median) (goal <= 1.3)"
