#!/usr/bin/env bash
# Builds ZRQ and runs its main job.
#   bash scripts/run.sh [FILE]   decode captured sensor data strings (FILE or
#                                the shipped sample) and print what the front
#                                panel would show
# Options for the decoder go in ZRQ_DECODE_ARGS (see: zrq-decode --help).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${ZRQ_BUILD_ROOT:-$repo/build}/run
bash "$repo/scripts/deps.sh"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRQ_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" | grep -v '^\[' || true
input=${1:-$repo/samples/datastrings.txt}
# shellcheck disable=SC2086
exec "$build/bin/zrq-decode" ${ZRQ_DECODE_ARGS:-} "$input"
