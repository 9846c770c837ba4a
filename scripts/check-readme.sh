#!/usr/bin/env bash
# The README's set-up commands as a newcomer runs them, on a clean clone of
# this checkout: the run command on a machine without a display, then the
# package build the README gives (tests off, cpack) and a look at the package
# (lintian without errors, its programs answering --version from an unpacked
# copy). One line per check, then "readme: N passed, N failed"; the exit
# status is non-zero when a check failed.
#   bash scripts/check-readme.sh [WORK_DIR]
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d "${TMPDIR:-/tmp}/zrq-readme.XXXXXX")}
mkdir -p "$work"
passed=0
failed=0
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
    passed=$((passed + 1))
  else
    echo "FAILED: $what"
    failed=$((failed + 1))
  fi
}
finish() {
  echo "readme: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

# A picture that is not one colour: its pixel rows hold more than a few
# distinct byte values.
not_blank() {
  python3 - "$1" <<'EOF'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
if data[:8] != b"\x89PNG\r\n\x1a\n":
    sys.exit(1)
pos, idat = 8, b""
while pos + 8 <= len(data):
    n, kind = struct.unpack(">I4s", data[pos:pos + 8])
    if kind == b"IDAT":
        idat += data[pos + 8:pos + 8 + n]
    pos += 12 + n
sys.exit(0 if len(set(zlib.decompress(idat))) > 16 else 1)
EOF
}

clone=$work/clone
rm -rf "$clone"
git clone -q "$repo" "$clone" || { check "clean clone" false; finish; }

# --- the run command, as written, without a display ------------------------
(cd "$clone" && env -u DISPLAY bash scripts/run.sh) >"$work/run.log" 2>&1
run_rc=$?
check "bash scripts/run.sh exits 0 without a display" test "$run_rc" -eq 0 ||
  tail -n 30 "$work/run.log"
shot=$(sed -n 's/^screenshot: //p' "$work/run.log" | tail -n 1)
[[ -n $shot && $shot != /* ]] && shot=$clone/$shot
check "it names the panel's picture" test -n "$shot"
check "the picture exists and is not blank" not_blank "${shot:-/nonexistent}"
# (The bracket keeps pgrep from finding the check's own command line.)
check "the simulator was stopped" \
  bash -c "! pgrep -f '$clone/build/run/bin/[t]ks7730-sim' >/dev/null"

# --- the package, as the README builds it -----------------------------------
pkg=$clone/build/pkg
{
  cmake -S "$clone" -B "$pkg" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRQ_TESTS=OFF &&
    cmake --build "$pkg" && (cd "$pkg" && cpack -G DEB)
} >"$work/package.log" 2>&1
pkg_rc=$?
deb=$(ls "$pkg"/package/zrq_*_amd64.deb 2>/dev/null | head -n 1)
check "configure with tests off, build, cpack -G DEB" test "$pkg_rc" -eq 0 -a -n "$deb" ||
  tail -n 30 "$work/package.log"
[ -n "$deb" ] || finish

lintian -I --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1
check "lintian finds no error" bash -c "! grep -q '^E: ' '$work/lintian.log'" ||
  grep '^E: ' "$work/lintian.log"
check "lintian finds the programs hardened (relro, bind-now, PIE)" \
  bash -c "! grep -qE ' hardening-no-(relro|bindnow|pie)' '$work/lintian.log'" ||
  grep ' hardening-' "$work/lintian.log"
# Built with _FORTIFY_SOURCE, a library may still call no fortifiable
# function the compiler could check; lintian says so as information.
if grep -q ' hardening-no-fortify-functions' "$work/lintian.log"; then
  echo "lintian information (built fortified, no checked call in it):"
  grep ' hardening-no-fortify-functions' "$work/lintian.log" | sed 's/^/  /'
fi
if grep -q '^W: ' "$work/lintian.log"; then
  echo "lintian warnings:"
  grep '^W: ' "$work/lintian.log" | sed 's/^/  /'
fi

root=$work/unpacked
rm -rf "$root"
dpkg-deb -x "$deb" "$root"
for prog in ZRQUSB tks7730-sim zrq-decode zrq-log; do
  exe=$root/usr/lib/zrq/$prog
  out=$(QT_QPA_PLATFORM=offscreen timeout 20 "$exe" --version 2>&1)
  check "$prog --version from the unpacked package (${out:-no output})" \
    bash -c "[ -n \"\$1\" ] && QT_QPA_PLATFORM=offscreen timeout 20 '$exe' --version >/dev/null 2>&1" _ "$out"
done
finish
