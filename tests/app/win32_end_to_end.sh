#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# VELK_LOG.exe end to end under Wine on a virtual X display, driven with
# xdotool as an operator would: the window opens with its title and only its
# two buttons (Esc and Enter start nothing); a log is armed; Go; decode lines
# are appended to ALL.TXT; the log file must then hold their records byte for
# byte and the list (copied through the clipboard) their display lines;
# Alt+F4 must end the program with status 0.
#
#   win32_end_to_end.sh VELK_LOG.exe WINEPREFIX
#
# Exit status 77 (skipped) when Xvfb or Wine is not installed. The points it
# clicks and the areas it looks at come from the window table, through the
# Linux build's velk_window_points (built when missing).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/xsession.sh"
exe=$(realpath "${1:?usage: win32_end_to_end.sh VELK_LOG.exe WINEPREFIX}")
export WINEPREFIX=$(realpath -m "${2:?usage: win32_end_to_end.sh VELK_LOG.exe WINEPREFIX}")
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

for tool in Xvfb wine; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/velk_win32_XXXXXX")
on_exit 'rm -rf "$work"'
# The prefix's Wine server keeps its socket where cmake/wine-run puts it.
export TMPDIR=$WINEPREFIX/tmp
xvfb_pid=
on_exit 'stop_pid "$xvfb_pid"'
on_exit 'stop_pid "$VELK_PID"'

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A display of its own: Xvfb picks a free number and writes it when ready.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for 10 "Xvfb" test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$work/display")"

mkdir "$work/decoder"
decodes="$work/decoder/ALL.TXT"
: >"$decodes"
(cd "$work/decoder" && exec wine "$exe" >"$work/stdout" 2>"$work/stderr") &
VELK_PID=$!
# The first start in a new Wine prefix sets the prefix up first.
VELK_WINDOW=$(window_within 180 --name "^VELK Logger  TANDO\$") ||
  fail "no window titled \"VELK Logger  TANDO\""
sleep 1
# The X ping tool belongs to the Linux build: a moment for each click instead.
velk_settle() { sleep 0.3; }

# Pixels of the window's client area, as the operator sees it.
shot() { import -window "$VELK_WINDOW" "$work/shot.png"; }
# True when the control's area shows one plain colour; its outermost pixels
# are left out, as neighbours may touch them.
plain() {
  local plain
  velk_box "$1"
  set -- "${VELK_BOX[@]}"
  plain=$(convert "$work/shot.png" -crop "$(($3 - 2))x$(($4 - 2))+$(($1 + 1))+$(($2 + 1))" +repage \
    -format '%[fx:maxima - minima < 0.001]' info:)
  [ "$plain" = 1 ]
}

# Esc and Enter, which the dialog manager turns into commands, start nothing.
velk_click_on Info
xdotool key Escape Return 2>/dev/null
sleep 0.5

shot
plain TimeNow || fail "the clock shows at start"
plain StartMsg || fail "the waiting message shows at start"
plain Info || fail "the list shows at start"
plain LogFile || fail "the log file box shows at start"
plain Go && fail "no Go button"
plain LogLabel && fail "no Set Log File button"

velk_arm_log e2e
velk_go
sleep 0.5

# One decode at a time, each waited for in the log, as the decoder writes
# them; the last carries a byte of the ANSI code page (0xE9, e acute).
lines=(
  "0712    3  -23  0.3   -5    3 *    ABC DEF GH"
  "0713   -1  -10  0.1  450    2 *    CQ TEST AB12 JN58"
  "0714   12   -3 -1.2 1234    1 *    VELK $(printf '\351')TE TEST LONG MESSAGE TEXT"
)
records=(
  '0712, 3,-23, .3,-5, 3, "ABC DEF GH"'
  '0713,-1,-10, .1, 450, 2, "CQ TEST AB12 JN58"'
  "0714, 12,-3,-1.2, 1234, 1, \"VELK $(printf '\351')TE TEST LONG MES\""
)
log="$work/decoder/E2E.TXT"
expected_log=
log_is_expected() { cmp -s "$log" <(printf '%s' "$expected_log") 2>/dev/null; }
for i in "${!lines[@]}"; do
  printf '%s\r\n' "${lines[$i]}" >>"$decodes"
  expected_log+="${records[$i]}"$'\r\n'
  wait_for 10 "decode $i in the log" log_is_expected || true
done
cmp -s "$log" <(printf '%s' "$expected_log") ||
  fail "log file differs: $(od -c "$log" 2>&1 | head -20)"

# The list as the operator would copy it: click into it, Ctrl+A, Ctrl+C.
date=$(date -r "$decodes" +%Y/%m/%d)
expected_list="$date 0712z   Sync= 3  dB=-23  DT= .3  DF=-5  W= 3     ABC DEF GH
$date 0713z   Sync=-1  dB=-10  DT= .1  DF= 450  W= 2     CQ TEST AB12 JN58
$date 0714z   Sync= 12  dB=-3  DT=-1.2  DF= 1234  W= 1     VELK éTE TEST LONG"
velk_click_on Info
xdotool key ctrl+a ctrl+c 2>/dev/null
sleep 0.5
list=$(timeout 10 xclip -o -selection clipboard | tr -d '\r') || fail "nothing on the clipboard"
[ "$list" = "$expected_list" ] || fail "the list shows:
$list
expected:
$expected_list"

xdotool key --window "$VELK_WINDOW" alt+F4 2>/dev/null
status=0
wait_for 10 "the program to end" velk_ended ||
  fail "the program did not end when its window was closed"
wait "$VELK_PID" || status=$?
VELK_PID=
[ "$status" = 0 ] || fail "exit status $status after closing the window"
echo "VELK_LOG.exe: window, log and list as expected; closed with status 0"
