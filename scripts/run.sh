#!/usr/bin/env bash
# Installs what is missing, builds the program (Release, in build/) and starts
# Tessaro_App_sim: the front panel on the simulated Vesk-3 hand controller.
#
# Without a display ($DISPLAY unset, e.g. a fresh headless machine) it says so,
# runs the same program in Xvfb, presses Connect, lets it mirror the device for
# a few seconds, writes a PNG screenshot of the window and prints its path.
# Usage: scripts/run.sh            (as root, or with sudo rights for the packages)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-2}
APP="$ROOT/build/programs/Tessaro_App_sim"
SHOT="$ROOT/build/tessaro_app_screenshot.png"
MIRROR_SECONDS=4
TITLE_PATTERN='^Tessaro_App for Vesk-3'
# Window geometry at 96 DPI: the Connect button and the 240 x 320 mirror.
CONNECT_CENTRE=(68 32)
CONNECT_BOX=118x36+9+14
MIRROR_BOX=240x320+15+106

say() { printf 'run: %s\n' "$*"; }

# Polls a command until it succeeds, up to $1 seconds.
wait_until() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    if ((SECONDS >= deadline)); then return 1; fi
    sleep 0.1
  done
}

say "installing what is missing"
scripts/install-deps.sh

say "building (Release, build/)"
cmake -G Ninja -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$JOBS" --target Tessaro_App_sim

if [ -n "${DISPLAY:-}" ]; then
  say "starting Tessaro_App_sim on $DISPLAY"
  exec "$APP"
fi

say "no display (\$DISPLAY is not set): running Tessaro_App_sim in Xvfb instead"
WORK=$(mktemp -d)
XVFB_PID=""
APP_PID=""
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$WORK/display" \
  >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
wait_until 10 test -s "$WORK/display" || { say "Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n1 "$WORK/display")"
export XDG_RUNTIME_DIR="$WORK"
say "Xvfb is on $DISPLAY"

"$APP" >"$WORK/app.log" 2>&1 &
APP_PID=$!

window_id() { xdotool search --onlyvisible --name "$TITLE_PATTERN" 2>/dev/null | head -n1; }
has_window() { [ -n "$(window_id)" ]; }
wait_until 20 has_window || { say "the window did not open"; cat "$WORK/app.log"; exit 1; }
WINDOW=$(window_id)

capture() { import -window "$WINDOW" "$WORK/now.png"; }
# The Connect button is enabled once its caption is drawn in black.
connect_enabled() {
  capture && [ "$(convert "$WORK/now.png" -crop "$CONNECT_BOX" +repage -colorspace Gray \
    -format '%[fx:minima<0.3]' info:)" = 1 ]
}
mirroring() {
  capture && [ "$(convert "$WORK/now.png" -crop "$MIRROR_BOX" +repage \
    -format '%[fx:maxima>0]' info:)" = 1 ]
}

wait_until 20 connect_enabled || { say "the device was not found"; exit 1; }
say "device available: pressing Connect"
xdotool mousemove --window "$WINDOW" "${CONNECT_CENTRE[@]}" click 1
wait_until 20 mirroring || { say "the mirror stayed black"; cat "$WORK/app.log"; exit 1; }
say "mirroring the simulated device for $MIRROR_SECONDS seconds"
sleep "$MIRROR_SECONDS"

import -window "$WINDOW" "$SHOT"
say "screenshot of the window: $SHOT"
