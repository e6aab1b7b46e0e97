# SPDX-License-Identifier: GPL-3.0-or-later
# Shell functions for driving the real VELK_LOG window under Xvfb, the way an
# operator would: source this file, then
#   xsession_start           starts Xvfb on a display it picks, exports DISPLAY;
#                            xsession_stop runs when the script ends
#   velk_start DIR           starts VELK_LOG in DIR and waits for its window;
#                            sets VELK_PID and VELK_WINDOW
#   velk_box NAME            sets VELK_BOX to (LEFT TOP WIDTH HEIGHT) of a
#                            control of the window table (tools/
#                            velk_window_points), or of the client area: Client
#   velk_click_on NAME       clicks the middle of that control
#   velk_arm_log NAME        "Set Log File", types NAME, "Set It"
#   velk_go                  clicks "Go"
#   velk_settle              waits until the window has handled all input
#   velk_close               closes the window (as the window manager would)
#                            and waits for VELK_LOG to end; sets VELK_STATUS
#   xsession_stop            ends VELK_LOG and Xvfb, whatever has died already
# Every wait has a deadline (wait_for, scripts/lib/common.sh). VELK_BIN (the
# program) and VELK_TOOLS (velk_xclose, velk_xping, velk_window_points)
# default to the release build's; the table's points come from the release
# build's velk_window_points when VELK_TOOLS has none, built when missing.
# Clicks are at points of the client area; VELK_CLIENT_X and VELK_CLIENT_Y
# are its place in VELK_WINDOW where that has a frame of its own (Wine).
# VELK_EMULATOR, when set, is the command (words) that runs VELK_BIN and the
# tools of VELK_TOOLS, for programs of another architecture (qemu-aarch64 for
# the arm64 build); velk_run runs a built program through it.

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

VELK_BIN=${VELK_BIN:-$VELK_ROOT/build/release/app/VELK_LOG}
VELK_TOOLS=${VELK_TOOLS:-$VELK_ROOT/build/release/tools}
read -r -a VELK_EMULATOR_WORDS <<<"${VELK_EMULATOR:-}"
VELK_PID=
VELK_WINDOW=
VELK_STATUS=
VELK_CLIENT_X=0
VELK_CLIENT_Y=0
VELK_BOX=()
declare -A VELK_BOXES=()
XVFB_PID=
XVFB_FD=
XSESSION_RUNTIME=
XSESSION_STOP_ON_EXIT=
XSESSION_FOUND=

# Xvfb takes the first free display and writes its number to our pipe once
# it accepts connections.
xsession_start() {
  local display
  if [ -z "$XSESSION_STOP_ON_EXIT" ]; then
    on_exit xsession_stop
    XSESSION_STOP_ON_EXIT=1
  fi
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

# The first window that `xdotool search ARGS...` finds within SECONDS.
# xdotool's own --sync gives up at the first X error, which a window that
# goes while it looks raises (Wine makes and drops helper windows while a
# program starts): such a search is made again.
window_found() { XSESSION_FOUND=$(xdotool search "$@" 2>/dev/null | head -n 1) && [ -n "$XSESSION_FOUND" ]; }
window_within() {
  local seconds=$1
  shift
  wait_for "$seconds" "a window (xdotool search $*)" window_found "$@" && echo "$XSESSION_FOUND"
}

# Under an emulator of the same process (qemu-user), the program keeps the
# process's id, and its window names that id.
velk_run() { "${VELK_EMULATOR_WORDS[@]}" "$@"; }

velk_start() {
  (cd "$1" && exec "${VELK_EMULATOR_WORDS[@]}" "$VELK_BIN" >/dev/null 2>&1) &
  VELK_PID=$!
  VELK_STATUS=
  if ! VELK_WINDOW=$(window_within 20 --onlyvisible --pid "$VELK_PID" --name "VELK Logger"); then
    echo "VELK_LOG showed no window within 20 s" >&2
    return 1
  fi
  velk_settle
}

# The window answers a ping once it has handled everything sent before it.
velk_settle() { velk_run "$VELK_TOOLS/velk_xping" "$VELK_WINDOW"; }

velk_box() {
  if [ ${#VELK_BOXES[@]} -eq 0 ]; then
    local points=(velk_run "$VELK_TOOLS/velk_window_points") name box
    if [ ! -x "${points[1]}" ]; then
      points=("$VELK_ROOT/build/release/tools/velk_window_points")
      [ -x "${points[0]}" ] || velk_build velk_window_points
    fi
    while read -r name box; do VELK_BOXES[$name]=$box; done < <("${points[@]}")
  fi
  if [ -z "${VELK_BOXES[$1]+set}" ]; then
    echo "the window table has no control $1" >&2
    return 1
  fi
  read -r -a VELK_BOX <<<"${VELK_BOXES[$1]}"
}

# Clicks at a point of the window's client area (pixels from its top left).
velk_click() {
  xdotool mousemove --window "$VELK_WINDOW" $((VELK_CLIENT_X + $1)) $((VELK_CLIENT_Y + $2)) \
    click 1
  velk_settle
}

velk_click_on() {
  velk_box "$1"
  velk_click $((VELK_BOX[0] + VELK_BOX[2] / 2)) $((VELK_BOX[1] + VELK_BOX[3] / 2))
}

# The log label's button reads "Set Log File", then "Set It" once the box
# for the name shows.
velk_arm_log() {
  velk_click_on LogLabel
  velk_click_on LogFile
  xdotool type --delay 20 "$1"
  velk_settle
  velk_click_on LogLabel
}

velk_go() { velk_click_on Go; }

velk_ended() { ! kill -0 "$VELK_PID" 2>/dev/null; }

# VELK_STATUS is VELK_LOG's exit status, or "timeout" while it still runs
# 10 s after the close.
velk_close() {
  velk_run "$VELK_TOOLS/velk_xclose" "$VELK_WINDOW" || true
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
  stop_pid "$VELK_PID"
  VELK_PID=
  stop_pid "$XVFB_PID"
  XVFB_PID=
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
