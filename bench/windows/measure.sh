#!/usr/bin/env bash
# CPU and resident memory of ZRQUSB streaming from tks7730-sim: once with the
# panel alone, once with the forward and reflected meters, the peak and the
# burst windows open. Prints both and the cost of the four windows
# (goal: at most 2% of one core and 60 MB resident together).
#
#   bash bench/windows/measure.sh            MEASURE_SECONDS=60 bash bench/windows/measure.sh
#
# BUILD names a build folder with bin/ZRQUSB, bin/libZervDCom.so and
# bin/tks7730-sim (default build/normal).
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$repo/build/normal}
seconds=${MEASURE_SECONDS:-30}
bin=$build/bin
for p in ZRQUSB tks7730-sim libZervDCom.so libDialix.so; do
  [[ -e $bin/$p ]] || { echo "measure.sh: $bin/$p missing (build it first)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zrq-windows.XXXXXX")
sim_pid= zrq_pid= xvfb_pid=
cleanup() {
  for p in $zrq_pid $sim_pid $xvfb_pid; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [[ -n ${MEASURE_KEEP:-} ]] && echo "work folder: $work" || rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 0700 "$work/run"
export XDG_RUNTIME_DIR=$work/run ZRQ_LOG_DIR=$work/logs ZRQ_SCREEN_SCALE=1

"$bin/tks7730-sim" --pty-link "$work/tty" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^serial: ' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
serial=$(sed -n 's/^serial: //p' "$work/sim.out" | head -n 1)
[[ -n $serial ]] || { echo "measure.sh: the simulator did not start" >&2; cat "$work/sim.err" >&2; exit 1; }

hz=$(getconf CLK_TCK)
# A private virtual X display when Xvfb is installed, else Qt's offscreen platform.
platform=(QT_QPA_PLATFORM=offscreen)
if command -v Xvfb >/dev/null; then
  display=:$(( 90 + RANDOM % 400 ))
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  sleep 1
  platform=(QT_QPA_PLATFORM=xcb DISPLAY=$display)
fi

# run NAME [ZRQUSB options]: prints "NAME cpu% rssMB"
run() {
  local name=$1; shift
  env "${platform[@]}" ZRQ_SERIAL_PORTS="$serial" "$bin/ZRQUSB" --connect "$serial" --unattended \
    "$@" >"$work/$name.out" 2>"$work/$name.err" &
  local pid=$!
  zrq_pid=$pid
  sleep 5  # connection, start-up and the first windows
  kill -0 "$pid" 2>/dev/null || { echo "measure.sh: ZRQUSB ended early" >&2; cat "$work/$name.err" >&2; exit 1; }
  local c0 c1 rss
  c0=$(awk '{print $14 + $15}' "/proc/$pid/stat")
  sleep "$seconds"
  c1=$(awk '{print $14 + $15}' "/proc/$pid/stat")
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  zrq_pid=
  awk -v n="$name" -v c=$((c1 - c0)) -v hz="$hz" -v s="$seconds" -v r="$rss" \
    'BEGIN { printf "%s %.2f %.1f\n", n, 100 * c / hz / s, r / 1024 }'
}

echo "ZRQUSB streaming from tks7730-sim for ${seconds}s per run"
panel=$(run panel)
windows=$(run windows --open meter,rflmeter,peak,burst)
read -r _ pc pr <<<"$panel"
read -r _ wc wr <<<"$windows"
printf '%-28s %8s %10s\n' "" "CPU %" "RSS MB"
printf '%-28s %8s %10s\n' "panel alone" "$pc" "$pr"
printf '%-28s %8s %10s\n' "panel + four windows" "$wc" "$wr"
awk -v pc="$pc" -v wc="$wc" -v pr="$pr" -v wr="$wr" 'BEGIN {
  printf "%-28s %8.2f %10.1f   (goal <= 2.00 %% and <= 60 MB)\n", "four windows", wc - pc, wr - pr
  printf "ratio windows/panel: CPU %.2f, RSS %.2f\n", (pc > 0 ? wc / pc : 0), wr / pr }'
grep -h "^opened:" "$work/windows.out" || echo "measure.sh: the windows did not open" >&2
grep -h "ZRQUSB" "$work"/*.err | head -5 || true
