#!/usr/bin/env bash
# test-maintainer-scripts.sh: postinst and postrm reload the udev rules where
# udev runs (its control socket exists) and do nothing where it does not; a
# stand-in udevadm first on PATH records what they would run.
set -uo pipefail
# --with-udev: inside a private mount namespace, a /run of our own with an
# udev control socket in it, so the reload branch runs too.
if [ "${1:-}" = --with-udev ]; then
  mount -t tmpfs zrq-test-run /run && mkdir /run/udev &&
    python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind("/run/udev/control")' ||
    { echo "FAILED: no private /run/udev/control"; exit 1; }
fi
dir=$(cd "$(dirname "$0")/debian" && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/zrq-maint.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin"
cat >"$tmp/bin/udevadm" <<STUB
#!/bin/sh
echo "\$*" >>"$tmp/calls"
STUB
chmod 755 "$tmp/bin/udevadm"

if [ -S /run/udev/control ]; then
  reload=$'control --reload-rules\ntrigger --subsystem-match=hidraw --action=change'
else
  reload=""
fi
failures=0
expect() {  # script, argument, expected calls
  rm -f "$tmp/calls"
  if ! PATH="$tmp/bin:$PATH" sh "$dir/$1" "$2"; then
    echo "FAILED: $1 $2 exited with an error"; failures=$((failures + 1)); return
  fi
  local got
  got=$(cat "$tmp/calls" 2>/dev/null)
  if [ "$got" = "$3" ]; then
    echo "ok: $1 $2 ran: ${got:-nothing}"
  else
    echo "FAILED: $1 $2 ran '${got}', expected '$3'"; failures=$((failures + 1))
  fi
}
expect postinst configure "$reload"
expect postinst abort-upgrade ""
expect postrm remove "$reload"
expect postrm purge "$reload"
expect postrm upgrade ""
[ -S /run/udev/control ] || echo "(no udev control socket here: nothing to reload)"
if [ -z "${1:-}" ] && [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
  echo "with a running udev:"
  unshare -m bash "$0" --with-udev || failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
