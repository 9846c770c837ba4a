#!/usr/bin/env bash
# Runs every ZRQ test from scratch: installs what is missing, empties each
# build folder, then builds and tests four configurations:
#   readme   the README's run command and package build on a clean clone
#   normal   everything, Qt windows included, warnings as errors; its
#            end-to-end tests run again on a 9600-baud simulated line
#   asan     the Qt-free code under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan     the Qt-free code (threaded library, simulator) under ThreadSanitizer
#   fuzz     clang libFuzzer targets, each run for a bounded time
# Build folders go under $ZRQ_BUILD_ROOT (default: build/ in the checkout);
# ZRQ_KEEP_BUILD=1 reuses them instead (an incremental run, not from scratch).
# The closing line counts passed and failed tests; the line before it the
# skipped ones. With CI=true an end-to-end test that finds the simulator or
# the library missing fails instead of skipping.
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
root=${ZRQ_BUILD_ROOT:-$repo/build}
jobs=${ZRQ_JOBS:-$(nproc)}
bash "$repo/scripts/deps.sh" test || { echo "dependency install failed"; exit 1; }

passed=0; failed=0; skipped=0; status=0
summary=()

configure_build() {  # name, cmake args...
  local name=$1; shift
  local dir="$root/$name"
  echo "=== [$name] configure and build"
  [ "${ZRQ_KEEP_BUILD:-0}" = 1 ] || rm -rf "$dir"
  cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1 \
    || { mkdir -p "$dir"; cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs" 2>&1 | tail -n 40 | grep -v '^\[' ; return "${PIPESTATUS[0]}"
}

run_ctest() {  # name, ctest args...
  local name=$1; shift
  local dir="$root/${ctest_dir:-$name}" log="$root/$name.ctest.log"
  echo "=== [$name] ctest"
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --no-tests=error "$@") 2>&1 | tee "$log" | grep -v -E '^\s*(Start|[0-9]+/[0-9]+ Test)'
  local rc=${PIPESTATUS[0]}
  local line p f k
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    # CTest counts a skipped test as passed; count it apart.
    k=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log" || true)
    p=$(( $(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line") - f - k ))
    passed=$((passed + p)); failed=$((failed + f)); skipped=$((skipped + k))
    summary+=("$name: $p passed, $f failed, $k skipped")
  else
    summary+=("$name: no test result")
  fi
  [ "$rc" -eq 0 ] || status=1
}

stage() {  # name, cmake args... -- ctest args...
  local name=$1; shift
  local cargs=() targs=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do cargs+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  targs=("$@")
  mkdir -p "$root"
  if configure_build "$name" "${cargs[@]}"; then
    run_ctest "$name" "${targs[@]}"
  else
    echo "[$name] build failed"; summary+=("$name: build failed"); status=1; failed=$((failed + 1))
  fi
}

# The README's own commands first, as a newcomer runs them on a clean clone:
# the run command without a display, the package build and its checks.
echo "=== [readme] run command and package, on a clean clone"
mkdir -p "$root"
rm -rf "$root/readme"
bash "$repo/scripts/check-readme.sh" "$root/readme" 2>&1 | tee "$root/readme.log"
line=$(grep -E '^readme: [0-9]+ passed, [0-9]+ failed$' "$root/readme.log" | tail -n 1)
if [ -n "$line" ]; then
  p=$(sed -E 's/^readme: ([0-9]+) passed.*/\1/' <<<"$line")
  f=$(sed -E 's/.*passed, ([0-9]+) failed$/\1/' <<<"$line")
  passed=$((passed + p)); failed=$((failed + f))
  summary+=("readme: $p passed, $f failed, 0 skipped")
  [ "$f" -eq 0 ] || status=1
else
  summary+=("readme: no result"); failed=$((failed + 1)); status=1
fi
# Its builds are not needed any more; the clone's space is.
rm -rf "$root/readme/clone/build"

stage normal -DZRQ_WERROR=ON -DZRQ_BENCH=ON
# The uhid test's own lines (its inner tests inside the virtual machine).
if [ -f "$root/normal/sim/tests/vm/vm-work/summary.txt" ]; then
  echo "=== [normal] uhid VM test"
  cat "$root/normal/sim/tests/vm/vm-work/summary.txt"
fi
# The end-to-end tests again with the simulator's serial line at the sensor's
# real 9600 baud, where lines take longer than a tick and arrive in pieces.
if [ -d "$root/normal" ] && [ -x "$root/normal/bin/tks7730-sim" ]; then
  ZRQ_SIM_BAUD=9600 ctest_dir=normal run_ctest normal-9600 -R 'E2E|Reconnect|DevCom|Program\.Paced'
fi
stage asan -DZRQ_QT=OFF -DZRQ_SANITIZE=address -DZRQ_WERROR=ON -- -LE no-asan
stage tsan -DZRQ_QT=OFF -DZRQ_SANITIZE=thread -DZRQ_WERROR=ON -- -LE no-tsan
CC=clang CXX=clang++ stage fuzz -DZRQ_QT=OFF -DZRQ_TESTS=OFF -DZRQ_FUZZ=ON -- -L fuzz

# What failed, where the end of the output shows it: the failing tests'
# names and their own failure lines (GoogleTest's, the scripts' "FAIL" lines,
# sanitizer reports), at most a few lines each.
if [ "$failed" -gt 0 ]; then
  echo "=== failures"
  for log in "$root"/*.ctest.log "$root/readme.log"; do
    [ -f "$log" ] || continue
    grep -E '^[[:space:]]*[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception|Not Run|Child aborted)\)|^[0-9]+: FAIL  |^FAIL  |: Failure$|^\[  FAILED  \] [^ ]+\.[^ ]+ \(|ERROR: (Address|Thread|Leak)Sanitizer|runtime error:' \
      "$log" | head -n 20 | sed "s|^|$(basename "$log" .ctest.log): |"
  done
fi
echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "skipped: $skipped"
echo "all: $passed passed, $failed failed"
exit $status
