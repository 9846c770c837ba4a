#!/usr/bin/env bash
# Soak run: ZRQUSB streams from tks7730-sim, which injects random faults, for
# SOAK_SECONDS (default 600). Checks that ZRQUSB neither crashes nor hangs,
# that its display tick keeps its 250 ms rhythm (median within 10 ms; pauses
# over 400 ms only where a stop command's reply was lost, or in at most 0.5%
# of the ticks), that its resident memory
# grows by less than 5 MB after the warm-up and that it uses under 3% of one
# core. Not part of the test suite.
#
#   bash bench/soak/soak.sh            SOAK_SECONDS=180 bash bench/soak/soak.sh
#
# BUILD names a build folder (default build/run, as scripts/run.sh makes it);
# SOAK_PORT=usb streams over the simulated USB sensor instead of the serial one;
# SOAK_FAULTS replaces the fault list; SOAK_KEEP=1 keeps the work folder.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-${ZRQ_BUILD_ROOT:-$repo/build}/run}
seconds=${SOAK_SECONDS:-600}
warmup=$(( seconds / 10 < 20 ? 20 : seconds / 10 ))
(( seconds > warmup + 20 )) || { echo "soak.sh: SOAK_SECONDS must exceed $(( warmup + 20 ))" >&2; exit 2; }

if [[ ! -x $build/bin/ZRQUSB ]]; then
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRQ_TESTS=OFF >/dev/null
fi
# A failed build stops here: stale programs never run.
if ! cmake --build "$build" --target ZRQUSB ZervDCom tks7730-sim >"$build/soak-build.log" 2>&1; then
  grep -v '^\[' "$build/soak-build.log" >&2
  echo "soak.sh: build failed (log: $build/soak-build.log)" >&2
  exit 1
fi
grep -v '^\[' "$build/soak-build.log" || true
bin=$build/bin

work=$(mktemp -d "${TMPDIR:-/tmp}/zrq-soak.XXXXXX")
sim_pid= zrq_pid=
cleanup() {
  for p in $zrq_pid $sim_pid; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [[ -n ${SOAK_KEEP:-} ]] && echo "work folder: $work" || rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 0700 "$work/usb" "$work/run"
export XDG_RUNTIME_DIR=$work/run ZRQ_LOG_DIR=$work/logs

# Stream faults strike at data lines, no-u-reply at stop commands.
faults=${SOAK_FAULTS:-"garbage,rate=0.02 truncate,rate=0.01 layout,rate=0.01 nan,rate=0.002
  wrong-type,rate=0.003 stall,rate=0.0005,for=1500 no-u-reply,rate=0.1"}
fault_args=()
for f in $faults; do fault_args+=(--fault "$f"); done
# The simulator's trace counts milliseconds from its start: note that moment on
# the clock the tick log uses.
python3 -c 'import time; print(time.monotonic() * 1000)' >"$work/sim.t0"
"$bin/tks7730-sim" --usb 1 --usb-dir "$work/usb" --seed 7 --trace "$work/sim.trace" \
  "${fault_args[@]}" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^usb: ' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
serial=$(sed -n 's/^serial: //p' "$work/sim.out" | head -n 1)
[[ -n $serial ]] || { echo "soak.sh: the simulator did not start" >&2; cat "$work/sim.err" >&2; exit 1; }
port=$serial
[[ ${SOAK_PORT:-serial} == usb ]] && port=7730USB1

ZRQ_SERIAL_PORTS=$serial ZERVDCOM_HID_SIM_DIR=$work/usb QT_QPA_PLATFORM=offscreen \
  "$bin/ZRQUSB" --connect "$port" --unattended --tick-log "$work/ticks" \
  >"$work/zrq.out" 2>"$work/zrq.err" &
zrq_pid=$!
echo "soak: ${seconds}s on $port (ZRQUSB pid $zrq_pid), faults: $(echo $faults)"

hz=$(getconf CLK_TCK)
sample() {  # elapsed_s rss_kB cpu_ticks
  local rss cpu
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$zrq_pid/status")
  cpu=$(awk '{print $14 + $15}' "/proc/$zrq_pid/stat")
  echo "$1 $rss $cpu" >>"$work/samples"
}
start=$(date +%s)
alive=1
while :; do
  now=$(( $(date +%s) - start ))
  kill -0 "$zrq_pid" 2>/dev/null || { alive=0; break; }
  sample "$now"
  cut -d' ' -f1 /proc/loadavg >>"$work/load"
  (( now >= seconds )) && break
  sleep 5
done

rc=
if (( alive )); then
  kill -TERM "$zrq_pid"
  for _ in $(seq 100); do kill -0 "$zrq_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$zrq_pid" 2>/dev/null; then rc=hung; else wait "$zrq_pid" && rc=0 || rc=$?; fi
else
  wait "$zrq_pid" && rc=0 || rc=$?
fi
zrq_pid=

python3 - "$work" "$warmup" "$hz" "$alive" "$rc" <<'PY'
import statistics, sys
work, warmup, hz, alive, rc = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4] == "1", sys.argv[5]
ticks = [float(l) for l in open(f"{work}/ticks") if l.strip()]
gaps = [b - a for a, b in zip(ticks, ticks[1:])]
samples = [tuple(map(int, l.split())) for l in open(f"{work}/samples")]
base = next(s for s in samples if s[0] >= warmup)
last = samples[-1]
rss_growth_mb = (last[1] - base[1]) / 1024
cpu_pct = (last[2] - base[2]) / hz / max(1, last[0] - base[0]) * 100
trace = open(f"{work}/sim.trace").read().splitlines()
faults = sum(1 for l in trace if " fault " in l)
t0 = float(open(f"{work}/sim.t0").read())
lost_u = [t0 + int(l.split()[0]) for l in trace if " fault no-u-reply" in l]
load = [float(l) for l in open(f"{work}/load")]
# A stop whose reply never comes holds the interface thread for the 2 s reply
# wait, as every command exchange does: those gaps are expected.
long_gaps = [(a, b - a) for a, b in zip(ticks, ticks[1:]) if b - a > 400]
explained = [g for g in long_gaps if any(g[0] - 500 <= t <= g[0] + g[1] for t in lost_u)]
other = [g for g in long_gaps if g not in explained]
stops = sum(1 for l in trace if " cmd U " in l)
boxes = sum(1 for l in open(f"{work}/zrq.err") if l.startswith("ZRQUSB message ["))
q = statistics.quantiles(gaps, n=100)
print(f"run:          {last[0]} s, ZRQUSB {'alive' if alive else 'DIED'}, exit after SIGTERM: {rc}")
print(f"display tick: {len(ticks)} ticks, median {statistics.median(gaps):.1f} ms, "
      f"p1 {q[0]:.1f} ms, p99 {q[98]:.1f} ms, max {max(gaps):.1f} ms, "
      f"gaps over 400 ms: {len(long_gaps)} ({len(explained)} at an unanswered stop command)")
for start_ms, gap in sorted(other, key=lambda g: -g[1])[:5]:
    print(f"              other gap {gap:.0f} ms at {(start_ms - ticks[0]) / 1000:.1f} s")
print(f"memory:       RSS {base[1]/1024:.1f} MB at {base[0]} s -> {last[1]/1024:.1f} MB "
      f"(growth {rss_growth_mb:+.2f} MB)")
print(f"cpu:          {cpu_pct:.2f}% of one core after the warm-up")
print(f"sensor:       {faults} faults struck ({len(lost_u)} lost stop replies), {stops} stop "
      f"commands, {boxes} message boxes")
print(f"machine:      load average {min(load):.1f} to {max(load):.1f} during the run")
ok = (alive and rc == "0" and abs(statistics.median(gaps) - 250) < 10
      and len(other) <= len(gaps) / 200 and rss_growth_mb < 5 and cpu_pct < 3)
print("PASS" if ok else "FAIL")
sys.exit(0 if ok else 1)
PY
