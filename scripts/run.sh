#!/usr/bin/env bash
# Builds ZRQ and runs its main job: the ZRQUSB front panel connected to a sensor.
#
#   bash scripts/run.sh                  no sensor named: starts tks7730-sim with one
#                                        serial and one USB sensor and connects to the
#                                        serial one (ZRQ_SIM_PORT=usb: the USB one)
#   ZRQ_PORT=/dev/ttyUSB0 bash scripts/run.sh
#                                        a real sensor on that port instead (a device
#                                        path, COM1 for /dev/ttyS0, or 7730USB1)
#   bash scripts/run.sh --decode [FILE]  decode captured data strings (FILE or the
#                                        shipped sample); options in ZRQ_DECODE_ARGS
#
# Without a display ($DISPLAY unset) the panel runs under xvfb-run for
# ZRQ_RUN_SECONDS (default 8), a picture of it is saved (ZRQ_SCREENSHOT, default
# build/run/artefacts/zrq-panel.png) and its path printed, then ZRQUSB closes
# as the user would. With a display it runs until its window is closed.
# Extra ZRQUSB options go in ZRQ_ARGS (see: build/run/bin/ZRQUSB --help).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${ZRQ_BUILD_ROOT:-$repo/build}/run
bash "$repo/scripts/deps.sh" run
# Release: no debug information to write, the quickest way to a running panel.
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZRQ_TESTS=OFF >/dev/null
# Only what this command runs: the panel (with the libraries and help it
# loads) and the simulator, or the decoder.
targets=(ZRQUSB tks7730-sim)
[[ ${1:-} == --decode ]] && targets=(zrq-decode)
# A failed build stops here: stale programs never run.
if ! cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >"$build/build.log" 2>&1; then
  grep -v '^\[' "$build/build.log" >&2
  echo "run.sh: build failed (log: $build/build.log)" >&2
  exit 1
fi
grep -v '^\[' "$build/build.log" || true
bin=$build/bin

if [[ ${1:-} == --decode ]]; then
  input=${2:-$repo/samples/datastrings.txt}
  # shellcheck disable=SC2086
  exec "$bin/zrq-decode" ${ZRQ_DECODE_ARGS:-} "$input"
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zrq-run.XXXXXX")
sim_pid=
cleanup() {
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$tmp}

port=${ZRQ_PORT:-}
if [[ -z $port ]]; then
  mkdir -m 0700 "$tmp/usb"
  "$bin/tks7730-sim" --usb 1 --usb-dir "$tmp/usb" >"$tmp/sim.out" 2>"$tmp/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q '^usb: ' "$tmp/sim.out" 2>/dev/null && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$tmp/sim.err" >&2; exit 1; }
    sleep 0.1
  done
  serial=$(sed -n 's/^serial: //p' "$tmp/sim.out" | head -n 1)
  [[ -n $serial ]] || { echo "run.sh: the simulator did not start" >&2; exit 1; }
  echo "tks7730-sim: serial sensor on $serial, USB sensor in $tmp/usb"
  export ZRQ_SERIAL_PORTS=$serial ZERVDCOM_HID_SIM_DIR=$tmp/usb
  if [[ ${ZRQ_SIM_PORT:-serial} == usb ]]; then port=7730USB1; else port=$serial; fi
elif [[ $port == /* ]]; then
  # A device path is offered to discovery the way the simulator's is.
  export ZRQ_SERIAL_PORTS=$port${ZRQ_SERIAL_PORTS:+:$ZRQ_SERIAL_PORTS}
fi

args=(--connect "$port")
# shellcheck disable=SC2206
extra=(${ZRQ_ARGS:-})
if [[ -n ${DISPLAY:-} ]]; then
  "$bin/ZRQUSB" "${args[@]}" "${extra[@]}"
else
  shot=${ZRQ_SCREENSHOT:-$build/artefacts/zrq-panel.png}
  mkdir -p "$(dirname "$shot")"
  ms=$(( ${ZRQ_RUN_SECONDS:-8} * 1000 ))
  xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb \
    "$bin/ZRQUSB" "${args[@]}" --screenshot "$shot" --after $(( ms * 3 / 4 )) \
    --quit-after "$ms" "${extra[@]}"
fi
