#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the README's pictures of the window (docs/window-compact.png,
# docs/window-full.png, docs/window-live.png) from the real program on a
# simulated projector under a private Xvfb, at scale 1, as the X server
# shows them. Needs a build (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
simulator=""
panel=""
finish() {
  [ -z "$panel" ] || kill "$panel" 2>/dev/null || true
  [ -z "$simulator" ] || kill "$simulator" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap finish EXIT
export DISPLAY=$display QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

# Starts the panel (with the given options) on a new simulated projector.
start() {
  [ -z "$panel" ] || { kill "$panel"; wait "$panel" 2>/dev/null || true; }
  [ -z "$simulator" ] || { kill "$simulator"; wait "$simulator" 2>/dev/null || true; }
  coproc SIM { exec "$bin/qv550-sim" --countdown 500; }
  simulator=$SIM_PID
  read -r device <&"${SIM[0]}"
  "$bin/qv550-control" --com1 "$device" "$@" 2>/dev/null &
  panel=$!
  window=$(xdotool search --sync --name "QV550  CONTROL" | head -1)
  xdotool windowfocus --sync "$window"
  sleep 1
}
# Clicks the middle of a control given in twips of the window (left, top,
# width, height), as the control table places it.
click() {
  xdotool mousemove --window "$window" $((($1 + $3 / 2) / 15)) $((($2 + $4 / 2) / 15)) click 1 mousemove 0 1023
  sleep 0.3
}
height_is() {
  for _ in $(seq 50); do
    [ "$(xwininfo -id "$window" | awk '/Height:/ {print $2}')" = "$1" ] && return 0
    sleep 0.1
  done
  return 1
}
grab() { xdotool mousemove 0 1023; sleep 0.5; scripts/grab-window.py "$window" "$1"; echo "$1"; }

start
grab docs/window-compact.png

xdotool key --window "$window" ctrl+q ctrl+q
height_is 582
xdotool mousemove 0 1023
click 6480 5640 975 255 # STATUS: the status line says what it answered (for a second)
scripts/grab-window.py "$window" docs/window-full.png && echo docs/window-full.png

start --live
click 240 840 615 300   # POWER ON
sleep 1.5
click 3840 840 495 300  # input 3
click 240 1920 615 300  # SOUND MUTE ON
click 2880 1920 615 300 # NO SHOW OFF
click 3840 1920 615 300 # FREEZE ON
click 240 4320 975 255  # CINEMA
click 6600 4320 606 372 # lamps 1-4
sleep 12                # the live state's next round reads them
grab docs/window-live.png
