# Shell functions for driving the real VELK_LOG window under Xvfb, the way an
# operator would: source this file, then
#   xsession_start           starts Xvfb on a display it picks, exports DISPLAY
#   velk_start DIR           starts VELK_LOG in DIR and waits for its window;
#                            sets VELK_PID and VELK_WINDOW
#   velk_arm_log NAME        "Set Log File", types NAME, "Set It"
#   velk_go                  clicks "Go"
#   velk_settle              waits until the window has handled all input
#   velk_close               closes the window (as the window manager would)
#                            and waits for VELK_LOG to end; sets VELK_STATUS
#   xsession_stop            ends VELK_LOG and Xvfb, whatever has died already
#   wait_for SECONDS WHAT COMMAND...
#                            runs COMMAND until it succeeds; after SECONDS it
#                            names WHAT on standard error and fails
# Every wait has a deadline. VELK_ROOT must name the project's top directory;
# VELK_BIN (the program) and VELK_TOOLS (velk_xclose, velk_xping) default to
# the release build's.

VELK_BIN=${VELK_BIN:-$VELK_ROOT/build/release/app/VELK_LOG}
VELK_TOOLS=${VELK_TOOLS:-$VELK_ROOT/build/release/tools}
VELK_PID=
VELK_WINDOW=
VELK_STATUS=
XVFB_PID=
XVFB_FD=
XSESSION_RUNTIME=

wait_for() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "gave up after ${seconds} s waiting for $what" >&2
      return 1
    fi
    sleep 0.05
  done
}

# Xvfb takes the first free display and writes its number to our pipe once
# it accepts connections.
xsession_start() {
  local display
  exec {XVFB_FD}< <(exec Xvfb -displayfd 1 -screen 0 640x400x24 -nolisten tcp 2>/dev/null)
  XVFB_PID=$!
  if ! read -r -t 20 -u "$XVFB_FD" display; then
    echo "Xvfb did not start within 20 s" >&2
    xsession_stop
    return 1
  fi
  export DISPLAY=":$display"
  # Qt keeps its runtime files there; without one it makes /tmp/runtime-USER
  # and leaves it behind.
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XSESSION_RUNTIME=$(mktemp -d "${TMPDIR:-/tmp}/velk_runtime_XXXXXX")
    export XDG_RUNTIME_DIR=$XSESSION_RUNTIME
  fi
  # A real window on that display, also when the caller (ctest) asked Qt
  # for the offscreen platform.
  export QT_QPA_PLATFORM=xcb
}

velk_start() {
  (cd "$1" && exec "$VELK_BIN" >/dev/null 2>&1) &
  VELK_PID=$!
  VELK_STATUS=
  if ! VELK_WINDOW=$(timeout 20 xdotool search --sync --onlyvisible --pid "$VELK_PID" \
    --name "VELK Logger"); then
    echo "VELK_LOG showed no window within 20 s" >&2
    return 1
  fi
  velk_settle
}

# The window answers a ping once it has handled everything sent before it.
velk_settle() { "$VELK_TOOLS/velk_xping" "$VELK_WINDOW"; }

# Clicks at a point of the window's client area (pixels from its top left).
velk_click() {
  xdotool mousemove --window "$VELK_WINDOW" "$1" "$2" click 1
  velk_settle
}

velk_arm_log() {
  velk_click 44 228  # "Set Log File"
  velk_click 248 226 # into the log file box
  xdotool type --delay 20 "$1"
  velk_settle
  velk_click 44 228  # "Set It"
}

velk_go() { velk_click 440 228; }

velk_ended() { ! kill -0 "$VELK_PID" 2>/dev/null; }

# VELK_STATUS is VELK_LOG's exit status, or "timeout" while it still runs
# 10 s after the close.
velk_close() {
  "$VELK_TOOLS/velk_xclose" "$VELK_WINDOW" || true
  if ! wait_for 10 "VELK_LOG to end after the close" velk_ended; then
    VELK_STATUS=timeout
    return 1
  fi
  VELK_STATUS=0
  wait "$VELK_PID" || VELK_STATUS=$?
  VELK_PID=
}

# Runs to the end whatever has already ended; the caller's status is kept.
xsession_stop() {
  local -
  set +e
  if [ -n "$VELK_PID" ]; then
    kill "$VELK_PID" 2>/dev/null
    wait "$VELK_PID" 2>/dev/null
    VELK_PID=
  fi
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=
  fi
  if [ -n "$XVFB_FD" ]; then
    exec {XVFB_FD}<&-
    XVFB_FD=
  fi
  if [ -n "$XSESSION_RUNTIME" ]; then
    rm -rf "$XSESSION_RUNTIME"
    unset XDG_RUNTIME_DIR
    XSESSION_RUNTIME=
  fi
  return 0
}
