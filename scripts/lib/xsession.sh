# Shell functions for driving the real VELK_LOG window under Xvfb, the way an
# operator would: source this file, then
#   xsession_start                 starts Xvfb on a free display, exports DISPLAY
#   velk_start DIR                 starts VELK_LOG in DIR, sets VELK_PID, VELK_WINDOW
#   velk_arm_log NAME              "Set Log File", types NAME, "Set It"
#   velk_go                        clicks "Go"
#   velk_close                     closes the window (as the window manager would)
#   xsession_stop                  ends VELK_LOG and Xvfb
# VELK_ROOT must name the project's top directory; the release build must exist.

VELK_BIN=${VELK_BIN:-$VELK_ROOT/build/release/app/VELK_LOG}

xsession_start() {
  local n
  for n in $(seq 90 189); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 640x400x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    # A real window on that display, also when the caller (ctest) asked Qt
    # for the offscreen platform.
    export QT_QPA_PLATFORM=xcb
    local _
    for _ in $(seq 100); do
      xdpyinfo >/dev/null 2>&1 && return 0
      sleep 0.05
    done
    kill "$XVFB_PID" 2>/dev/null
  done
  echo "no Xvfb display could be started" >&2
  return 1
}

velk_start() {
  (cd "$1" && exec "$VELK_BIN" >/dev/null 2>&1) &
  VELK_PID=$!
  VELK_WINDOW=$(xdotool search --sync --pid "$VELK_PID" --name "VELK Logger")
  sleep 0.3
}

# Clicks at a point of the window's client area (pixels from its top left).
velk_click() {
  xdotool mousemove --window "$VELK_WINDOW" "$1" "$2" click 1
  sleep 0.2
}

velk_arm_log() {
  velk_click 44 228  # "Set Log File"
  velk_click 248 226 # into the log file box
  xdotool type --delay 20 "$1"
  sleep 0.2
  velk_click 44 228  # "Set It"
}

velk_go() { velk_click 440 228; }

velk_close() { "$VELK_ROOT/build/release/tools/velk_xclose" "$VELK_WINDOW"; }

xsession_stop() {
  [ -n "${VELK_PID:-}" ] && kill "$VELK_PID" 2>/dev/null
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null || true
}
