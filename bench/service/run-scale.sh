#!/usr/bin/env bash
# zrqd at scale: N simulated USB sensors (100 ms line period) in one zrqd,
# every reading logged and published to a real broker on loopback, with a
# subscriber taking every reading. For each N of SCALE_SENSORS (default
# "1 32"), after SCALE_WARMUP seconds (default 10), one window of
# SCALE_SECONDS (default 60):
#   CPU of zrqd (all threads, from /proc) in % of one core, in all and per
#   sensor; resident memory at the end against 20 MB + 1 MB per sensor;
#   readings, records and readings published per sensor (from its status
#   file), and the readings the subscriber got.
# Then the per-sensor cost at the largest N against the smallest (the
# baseline of the same run). Goals: every reading published and logged,
# at most 0.15 % of a core per sensor, the memory bound, and a ratio <= 1.
#
#   bash bench/service/run-scale.sh      SCALE_SENSORS="1 8 32" SCALE_SECONDS=30 bash ...
#
# BUILD names a build folder with bin/zrqd, bin/libZervDCom.so and
# bin/tks7730-sim (default build/normal). Needs mosquitto and
# mosquitto-clients (scripts/packages-test.txt). Not part of the test suite.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
bin=${BIN:-${BUILD:-$repo/build/normal}/bin}
seconds=${SCALE_SECONDS:-60}
warmup=${SCALE_WARMUP:-10}
counts=${SCALE_SENSORS:-"1 32"}
for p in zrqd tks7730-sim libZervDCom.so; do
  [[ -e $bin/$p ]] || { echo "run-scale.sh: $bin/$p missing (build it first)" >&2; exit 1; }
done
mosquitto=$(command -v mosquitto || echo /usr/sbin/mosquitto)
[[ -x $mosquitto ]] && command -v mosquitto_sub >/dev/null ||
  { echo "run-scale.sh: mosquitto and mosquitto_sub are needed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zrq-scale.XXXXXX")
pids=()
stop_all() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT
hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# Sums column $1 (1-based) of the sensor rows of a status file.
status_sum() { awk -F'\t' -v c="$1" 'NR > 2 { s += $c } END { print s + 0 }' "$2"; }

declare -A per_sensor
printf '%8s %10s %12s %10s %10s %12s %12s %12s %12s\n' sensors "cpu %" "cpu %/sensor" "rss MB" "rss goal" \
  "readings/s" "logged" "published" "subscribed"
for n in $counts; do
  d=$work/$n
  mkdir -p "$d/usb" "$d/logs"
  port=$(free_port)
  printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nmax_queued_messages 100000\n' "$port" >"$d/mosquitto.conf"
  "$mosquitto" -c "$d/mosquitto.conf" >/dev/null 2>&1 & pids+=($!)
  "$bin/tks7730-sim" --no-pty --usb "$n" --usb-dir "$d/usb" >"$d/sim.out" 2>&1 & pids+=($!)
  for _ in $(seq 100); do [[ $(grep -c '^usb: ' "$d/sim.out" 2>/dev/null) -ge $n ]] && break; sleep 0.1; done
  {
    printf '[mqtt]\nurl = "mqtt://127.0.0.1:%s"\nbase = "scale"\n' "$port"
    for i in $(seq "$n"); do
      printf '[[sensor]]\nport = "7730USB%d"\nlabel = "s%d"\nlog = "%s/logs/s%d.csv"\n' "$i" "$i" "$d" "$i"
    done
  } >"$d/zrqd.toml"
  sleep 0.5
  mosquitto_sub -p "$port" -t 'scale/+/reading' >"$d/sub.txt" 2>/dev/null & pids+=($!)
  ZERVDCOM_HID_SIM_DIR=$d/usb "$bin/zrqd" --config "$d/zrqd.toml" --status-file "$d/status" \
    2>"$d/zrqd.err" & zpid=$!; pids+=($zpid)
  sleep "$warmup"
  t0=$(cpu_ticks "$zpid"); r0=$(status_sum 5 "$d/status"); l0=$(status_sum 6 "$d/status")
  p0=$(status_sum 7 "$d/status"); s0=$(wc -l <"$d/sub.txt")
  sleep "$seconds"
  t1=$(cpu_ticks "$zpid"); r1=$(status_sum 5 "$d/status"); l1=$(status_sum 6 "$d/status")
  p1=$(status_sum 7 "$d/status"); s1=$(wc -l <"$d/sub.txt")
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$zpid/status")
  stop_all
  read -r cpu per rate < <(awk -v t=$((t1 - t0)) -v hz="$hz" -v s="$seconds" -v n="$n" -v r=$((r1 - r0)) \
    'BEGIN { c = 100 * t / hz / s; printf "%.3f %.4f %.2f\n", c, c / n, r / s / n }')
  per_sensor[$n]=$per
  printf '%8d %10s %12s %10.1f %10d %12s %12d %12d %12d\n' "$n" "$cpu" "$per" "$(echo "$rss / 1024" | bc -l)" \
    $((20 + n)) "$rate" $((l1 - l0)) $((p1 - p0)) $((s1 - s0))
  if grep -v -e 'streaming from' "$d/zrqd.err" | grep -q .; then
    echo "  zrqd said:"; grep -v -e 'streaming from' "$d/zrqd.err" | head -5 | sed 's/^/    /'
  fi
done
first=${counts%% *}
last=${counts##* }
awk -v a="${per_sensor[$first]}" -v b="${per_sensor[$last]}" -v f="$first" -v l="$last" \
  'BEGIN { printf "cost per sensor at %d sensors / at %d sensors: %.2f\n", l, f, (a > 0 ? b / a : 0) }'
