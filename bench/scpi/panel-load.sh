#!/usr/bin/env bash
# Remote-control load on the panel: ZRQUSB (offscreen) streams from
# tks7730-sim (serial, 9600 baud, 100 ms line period) with --scpi 0, and after
# a warm-up two windows of LOAD_SECONDS (default 20) each are measured in
# the one run: first with no client, then with LOAD_CLIENTS (default 8)
# clients (python3, plain sockets, one process each) sending FETC? and
# waiting for its reply, flat out. Per window: the display tick interval
# (median, p99, max; from --tick-log) and ZRQUSB's CPU in % of one core from
# /proc/PID/stat (utime + stime; the clients' CPU is their own), and the
# clients' queries/s.
# Goals: tick interval p99 <= 260 ms with the clients; ZRQUSB's CPU rises by
# at most 5 % of one core.
#
#   bash bench/scpi/panel-load.sh        LOAD_SECONDS=30 LOAD_CLIENTS=4 bash bench/scpi/panel-load.sh
#
# BUILD names a build folder with bin/ZRQUSB, bin/libZervDCom.so and
# bin/tks7730-sim (default build/normal); BIN names the bin folder itself.
# LOAD_KEEP=1 keeps the work folder. Not part of the test suite.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$repo/build/normal}
bin=${BIN:-$build/bin}
seconds=${LOAD_SECONDS:-20}
warmup=${LOAD_WARMUP:-8}
nclients=${LOAD_CLIENTS:-8}
for p in ZRQUSB tks7730-sim libZervDCom.so; do
  [[ -e $bin/$p ]] || { echo "panel-load.sh: $bin/$p missing (build it first)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zrq-load.XXXXXX")
sim_pid= app_pid= client_pids=()
stop_clients() {
  for p in "${client_pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done
  for p in "${client_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  client_pids=()
}
cleanup() {
  stop_clients
  for p in $app_pid $sim_pid; do kill "$p" 2>/dev/null || true; done
  for p in $app_pid $sim_pid; do wait "$p" 2>/dev/null || true; done
  [[ -n ${LOAD_KEEP:-} ]] && echo "work folder: $work" || rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 0700 "$work/run" "$work/usb"
export XDG_RUNTIME_DIR=$work/run ZRQ_LOG_DIR=$work/logs

# One client: FETC?, wait for the LF, again; on SIGINT prints its count.
cat >"$work/client.py" <<'PY'
import signal, socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
n, stop = 0, False
def on_int(*_):
    global stop
    stop = True
signal.signal(signal.SIGINT, on_int)
try:
    while not stop:
        s.sendall(b"FETC?\n")
        buf = b""
        while not buf.endswith(b"\n"):
            chunk = s.recv(256)
            if not chunk:
                raise SystemExit("connection closed")
            buf += chunk
        n += 1
except InterruptedError:
    pass
print(n, flush=True)
PY

calc() { awk "BEGIN {printf \"%.6f\", $*}"; }
hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
mono_ms() { python3 -c 'import time; print(time.monotonic() * 1000)'; }

"$bin/tks7730-sim" --baud 9600 --interval 100 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^serial: ' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
serial=$(sed -n 's/^serial: //p' "$work/sim.out" | head -n 1)
[[ -n $serial ]] || { echo "panel-load.sh: the simulator did not start" >&2; cat "$work/sim.err" >&2; exit 1; }

ZRQ_SERIAL_PORTS=$serial ZERVDCOM_HID_SIM_DIR=$work/usb QT_QPA_PLATFORM=offscreen \
  "$bin/ZRQUSB" --connect "$serial" --unattended --tick-log "$work/ticks" --scpi 0 \
  >"$work/app.out" 2>"$work/app.err" &
app_pid=$!
for _ in $(seq 100); do grep -q '^scpi: ' "$work/app.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^scpi: .*:\([0-9]*\)$/\1/p' "$work/app.out" | head -n 1)
[[ -n $port ]] || { echo "panel-load.sh: ZRQUSB did not start serving" >&2; cat "$work/app.err" >&2; exit 1; }
sleep "$warmup"

window() {  # name
  kill -0 "$app_pid" 2>/dev/null || { echo "panel-load.sh: ZRQUSB ended early" >&2; cat "$work/app.err" >&2; exit 1; }
  local c0 c1 t0 t1 m0 m1
  c0=$(cpu_ticks "$app_pid"); t0=$(date +%s.%N); m0=$(mono_ms)
  sleep "$seconds"
  c1=$(cpu_ticks "$app_pid"); t1=$(date +%s.%N); m1=$(mono_ms)
  echo "$1 $(calc "100 * ($c1 - $c0) / $hz / ($t1 - $t0)") $m0 $m1" >>"$work/windows"
}

window idle
for i in $(seq "$nclients"); do
  python3 "$work/client.py" "$port" >"$work/count.$i" 2>>"$work/clients.err" &
  client_pids+=($!)
done
sleep 2
q0=$(date +%s.%N)
window clients
q1=$(date +%s.%N)
stop_clients
[[ -s $work/clients.err ]] && { echo "panel-load.sh: a client failed:" >&2; cat "$work/clients.err" >&2; exit 1; }
queries=$(cat "$work"/count.* | awk '{s += $1} END {print s + 0}')

python3 - "$work" "$seconds" "$nclients" "$(calc "$queries / ($q1 - $q0 + 2)")" <<'PY'
import sys
work, seconds, nclients, qps = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
ticks = [float(l) for l in open(f"{work}/ticks") if l.strip()]
rows = {}
for line in open(f"{work}/windows"):
    name, cpu, m0, m1 = line.split()
    t = [x for x in ticks if float(m0) <= x <= float(m1)]
    gaps = sorted(b - a for a, b in zip(t, t[1:]))
    q = lambda p: gaps[min(len(gaps) - 1, int(p * (len(gaps) - 1) + 0.5))] if gaps else float("nan")
    rows[name] = (float(cpu), len(t), q(0.5), q(0.99), gaps[-1] if gaps else float("nan"))
print(f"panel-load: ZRQUSB streaming, {seconds} s windows; {nclients} FETC? clients: about {qps:.0f} queries/s in all")
print(f"  {'':16}{'CPU % core':>11}{'ticks':>7}{'median ms':>11}{'p99 ms':>9}{'max ms':>9}")
for name, label in (("idle", "no client"), ("clients", f"{nclients} clients")):
    cpu, n, med, p99, mx = rows[name]
    print(f"  {label:16}{cpu:11.2f}{n:7d}{med:11.1f}{p99:9.1f}{mx:9.1f}")
rise = rows["clients"][0] - rows["idle"][0]
p99 = max(rows["idle"][3], rows["clients"][3])
print(f"  goal tick interval p99 <= 260 ms: {p99:.1f}  {'PASS' if p99 <= 260 else 'MISS'}")
print(f"  goal CPU rise <= 5 % of a core: {rise:+.2f}  {'PASS' if rise <= 5 else 'MISS'}")
PY
