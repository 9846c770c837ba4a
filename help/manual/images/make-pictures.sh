#!/usr/bin/env bash
# Makes the manual's pictures of the front panel: starts tks7730-sim, runs ZRQUSB under
# xvfb-run connected to it, clicks the panel's buttons where a state needs it (xdotool,
# when installed) and saves one PNG per state into this folder.
#
#   bash help/manual/images/make-pictures.sh BIN_FOLDER [STATE...]
#
# BIN_FOLDER holds ZRQUSB, tks7730-sim and libZervDCom.so (for example build/normal/bin).
# Without STATE the states the manual shows are made: nosensor average peak burst crest
# ccdf units overrange blank offset commmenu filter. Two more are made only when named:
# zero (the panel during a zero calibration) and about (the About window, and the
# connection window opened from it). Clicks need xdotool; pictures of dialogs and menus
# need ImageMagick's import and a window manager (openbox).
# The screen is 1024 pixels wide, so ZRQ draws at its design size and the click
# positions below (pixels in the main window, menu bar included) hold.
set -euo pipefail

if [[ ${1:-} == --inner ]]; then
  # Runs inside xvfb-run: ZRQUSB in the background, the clicks, then wait for it.
  shift
  bin=$1 port=$2 out=$3 after=$4
  shift 4
  connect=()
  [[ $port != none ]] && connect=(--connect "$port")
  # A window manager tells which window is active (a dialog just opened).
  wm=
  if command -v openbox >/dev/null; then
    openbox >/dev/null 2>&1 &
    wm=$!
    sleep 0.5
  fi
  "$bin/ZRQUSB" "${connect[@]}" --screenshot "$out" --after "$after" \
    --quit-after $((after + 700)) --unattended &
  zrq=$!
  if (($#)); then
    main=$(timeout 20 xdotool search --sync --onlyvisible --name ' SN ' | head -n 1)
    win=$main
    for step in "$@"; do
      case $step in
        wait=*) sleep "${step#wait=}" ;;
        key=*) xdotool key "${step#key=}" ;;
        type=*) xdotool type "${step#type=}" ;;
        in=main) win=$main ;;
        in=active) win=$(xdotool getactivewindow) ;;
        grab=*) import -window "$win" "$PICDIR/${step#grab=}.png" ;;
        grabnew=*)
          # Only when the last click opened a window of its own.
          new=$(xdotool getactivewindow)
          if [[ $new != "$win" ]]; then
            win=$new
            import -window "$win" "$PICDIR/${step#grabnew=}.png"
          else
            echo "make-pictures.sh: no new window for ${step#grabnew=}" >&2
          fi
          ;;
        grabmenu=*)
          # The main window and an open menu: a cut of the whole screen.
          eval "$(xdotool getwindowgeometry --shell "$main")"
          import -window root -crop "${WIDTH}x100+$X+$((Y - 24))" +repage \
            "$PICDIR/${step#grabmenu=}.png"
          ;;
        *) xdotool mousemove --window "$win" "${step%,*}" "${step#*,}" click 1 ;;
      esac
    done
  fi
  wait "$zrq"
  [[ -n $wm ]] && kill "$wm" 2>/dev/null
  exit 0
fi

bin=$(cd "${1:?usage: make-pictures.sh BIN_FOLDER [STATE...]}" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
command -v xvfb-run >/dev/null || { echo "make-pictures.sh: xvfb-run is missing" >&2; exit 1; }
have_xdotool=1
command -v xdotool >/dev/null || have_xdotool=0

# Short paths: the serial port's path is shown in the Comm menu picture.
tmp=$(mktemp -d /tmp/zqXXXX)
sim_pid=
# shellcheck disable=SC2317  # called by the trap
cleanup() {
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$tmp ZRQ_LOG_DIR=$tmp/log PICDIR=$here

# Centres of the panel's buttons and of the offset entry field.
TYPE_NEXT=42,233 TYPE_PREV=120,233 FWD_UNITS=198,233 RFL_UNITS=276,233
OFFSET=42,262 FILTER=120,262 ZERO=276,262 OFFSET_FIELD=42,291
COMM_MENU=175,9 HELP_MENU=286,9 ABOUT_D=79,28

# shot NAME AFTER_MS "SIM OPTIONS" [STEP...]: a picture of the main window AFTER_MS after
# start into NAME.png (NAME "-": none). A step is a click "X,Y" in the current window,
# "wait=S", "key=KEYS", "type=TEXT", "in=active" (the active window, a dialog just opened,
# becomes the current one; "in=main" the main window), "grab=FILE" (a picture of the current
# window), "grabnew=FILE" (a picture of the active window if it is not the current one)
# or "grabmenu=FILE" (the main window with its open menu). Steps need xdotool; grabs
# need ImageMagick's import.
shot() {
  local name=$1 after=$2 simopts=$3
  shift 3
  if (($#)) && ((!have_xdotool)); then
    echo "make-pictures.sh: $name skipped (needs xdotool)" >&2
    return
  fi
  if [[ " $* " == *" grab"* ]] && ! command -v import >/dev/null; then
    echo "make-pictures.sh: $name skipped (needs import)" >&2
    return
  fi
  local main_out=$here/$name.png
  [[ $name == - ]] && main_out=$tmp/main.png
  local port=none
  if [[ $simopts != none ]]; then
    # shellcheck disable=SC2086
    "$bin/tks7730-sim" --pty-link "$tmp/s" $simopts >"$tmp/sim.out" 2>"$tmp/sim.err" &
    sim_pid=$!
    for _ in $(seq 50); do
      grep -q '^serial: ' "$tmp/sim.out" 2>/dev/null && break
      sleep 0.1
    done
    port=$tmp/s
  fi
  ZRQ_SERIAL_PORTS=$tmp/s xvfb-run -a -s "-screen 0 1024x768x24" \
    env QT_QPA_PLATFORM=xcb bash "$0" --inner "$bin" "$port" "$main_out" "$after" "$@" \
    >"$tmp/zrq.out" 2>"$tmp/zrq.err" || { echo "make-pictures.sh: $name: xvfb-run failed" >&2; cat "$tmp/zrq.err" >&2; }
  grep -q '^screenshot: ' "$tmp/zrq.out" || echo "make-pictures.sh: $name failed" >&2
  grep '^make-pictures.sh' "$tmp/zrq.err" >&2 || true
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
  fi
  [[ $name != - && -f $main_out ]] && echo "$main_out"
}

states=("$@")
((${#states[@]})) || states=(nosensor average peak burst crest ccdf units overrange blank offset
  commmenu filter)
want() { [[ " ${states[*]} " == *" $1 "* ]]; }

want nosensor && shot panel_nosensor 2000 none
want average && shot panel_average 4500 ""
want peak && shot panel_peak 6500 "" wait=4 $TYPE_NEXT
want burst && shot panel_burst 8500 "" wait=4 $TYPE_NEXT wait=2 $TYPE_NEXT
want crest && shot panel_crest 6500 "" wait=4 $TYPE_PREV wait=1 $TYPE_PREV
want ccdf && shot panel_ccdf 6500 "" wait=4 $TYPE_PREV
want units && shot panel_units 6500 "--vswr 1.3" wait=4 $FWD_UNITS $RFL_UNITS wait=0.3 $RFL_UNITS
want overrange && shot panel_overrange 4500 "--power 160 --drift 0 --noise 0.2"
want blank && shot panel_blank 4500 "--power 200 --drift 0"
want offset && shot panel_offset 6500 "--power 1.2" wait=4 $OFFSET wait=0.3 $OFFSET_FIELD \
  key=ctrl+a type=20 key=Return
want zero && shot panel_zero 14000 "--zero-time 60000" wait=4 $ZERO
want commmenu && shot - 7000 "" wait=4 $COMM_MENU wait=0.7 grabmenu=menu_comm key=Escape
want filter && shot - 7000 "" wait=4 $FILTER wait=0.7 in=active grab=dialog_filter key=Escape
want about && shot - 9000 "" wait=4 $HELP_MENU wait=0.5 key=Up key=Return wait=0.7 in=active \
  grab=dialog_about $ABOUT_D wait=1 grabnew=window_connection key=Escape wait=0.3 key=Escape
exit 0
