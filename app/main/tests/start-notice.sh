#!/bin/sh
# start-notice.sh ZRQUSB: on a display with no window manager nothing makes
# the main window the active one; the start notice must come all the same,
# once.
set -u
tmp=$(mktemp -d "${TMPDIR:-/tmp}/zrq-notice.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -m 0700 "$tmp/run"
env QT_QPA_PLATFORM=xcb HOME="$tmp" XDG_RUNTIME_DIR="$tmp/run" XDG_CONFIG_HOME="$tmp/config" \
  ZRQ_LOG_DIR="$tmp/log" ZRQ_SERIAL_PORTS=/nonexistent ZERVDCOM_HID_SIM_DIR="$tmp/usb" \
  "$1" --unattended --quit-after 2500 >"$tmp/out" 2>"$tmp/err"
rc=$?
n=$(grep -c '^ZRQUSB message \[Select port from Comm menu\.\]' "$tmp/err")
if [ "$rc" -ne 0 ] || [ "$n" -ne 1 ]; then
  echo "exit $rc, start notices: $n (want 1)"
  cat "$tmp/err"
  exit 1
fi
echo "one start notice"
