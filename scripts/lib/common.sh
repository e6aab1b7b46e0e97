# SPDX-License-Identifier: GPL-3.0-or-later
# What every script of this project shares. Source it first thing, before the
# script reads its arguments (they are kept, to start the script again as the
# user who called sudo):
#   VELK_ROOT                the project's top directory (exported)
#   velk_deps [--keep-root] GROUP...
#                            the packages of these groups of scripts/deps.
#                            As root it installs what is missing. Started
#                            through sudo, it then starts the script again as
#                            the user who called sudo, so that nothing it
#                            builds belongs to root (--keep-root: the script
#                            itself installs packages, it stays root). As any
#                            other user it stops with the line to run, when
#                            anything is missing.
#   VELK_TEST_GROUPS         the groups of scripts/deps that the native stages
#                            of scripts/test need, installed first, in one go
#   VELK_NATIVE_STAGES       scripts/test's stages built for this machine's
#                            own architecture (and Windows), in their order
#   VELK_FOREIGN_STAGES      its stages for another architecture (multiarch),
#                            run after them; each installs the scripts/deps
#                            group of its own name, on its own, after the
#                            native groups. The new system of scripts/fresh
#                            installs them in this same order.
#   velk_foreign_deps STAGE [DEPS...]
#                            installs the group of a foreign stage, with the
#                            command DEPS (this tree's scripts/deps by
#                            default). On a day apt cannot install it beside
#                            the native packages (scripts/deps exits 75) it
#                            keeps apt's reason in the environment and
#                            returns 75; any other failure ends the script
#   velk_foreign_unavailable STAGE
#                            apt's reason when that happened, or nothing
#   velk_foreign_skipped STAGE WHAT
#                            says loudly WHAT was skipped for it, and apt's
#                            reason
#   velk_build [--preset NAME] [TARGET...]
#                            configures the preset (release by default) and
#                            builds the targets, or everything
#   wait_for SECONDS WHAT COMMAND...
#                            runs COMMAND until it succeeds; after SECONDS it
#                            names WHAT on standard error and fails
#   on_exit COMMAND          a cleanup step, run when the script ends, by exit,
#                            Ctrl+C (INT) or TERM; the last registered runs
#                            first; COMMAND is evaluated then, so the variables
#                            in it have their values of that moment
#   stop_pid PID             ends the process and reaps it; nothing when PID is
#                            empty or already gone

# Sourced again (xsession.sh sources it too): everything is in place already.
[ -z "${VELK_COMMON_LOADED:-}" ] || return 0
VELK_COMMON_LOADED=1

VELK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export VELK_ROOT
VELK_SCRIPT=$(realpath "$0")
VELK_SCRIPT_ARGS=("$@")

velk_deps() {
  local keep_root=0
  if [ "${1:-}" = --keep-root ]; then
    keep_root=1
    shift
  fi
  # Installs as root, or names the command to run and fails.
  "$VELK_ROOT/scripts/deps" "$@" || exit
  [ "$keep_root" = 0 ] && [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_UID:-}" ] &&
    [ "$SUDO_UID" != 0 ] || return 0
  local home
  home=$(getent passwd "$SUDO_UID" | cut -d: -f6)
  exec setpriv --reuid="$SUDO_UID" --regid="$SUDO_GID" --init-groups \
    env HOME="$home" USER="$SUDO_USER" LOGNAME="$SUDO_USER" \
    "$VELK_SCRIPT" ${VELK_SCRIPT_ARGS[@]+"${VELK_SCRIPT_ARGS[@]}"}
}

VELK_TEST_GROUPS=(build window tests xsession fuzz windows installer fresh)
VELK_NATIVE_STAGES=(release asan fuzz windows)
VELK_FOREIGN_STAGES=(arm64 armhf)

# The reason goes along in the environment, past velk_deps starting the script
# again as the user who called sudo.
velk_foreign_deps() {
  local stage=$1 said status=0
  local deps=("${@:2}")
  [ ${#deps[@]} -ne 0 ] || deps=("$VELK_ROOT/scripts/deps")
  said=$(mktemp)
  "${deps[@]}" "$stage" 2>"$said" || status=$?
  case $status in
    0) cat "$said" >&2 ;;
    75) export "VELK_UNAVAILABLE_$stage=$(cat "$said")" ;;
    *) cat "$said" >&2 ;;
  esac
  rm -f "$said"
  [ "$status" = 0 ] || [ "$status" = 75 ] || exit "$status"
  return "$status"
}

velk_foreign_unavailable() {
  local name="VELK_UNAVAILABLE_$1"
  printf '%s' "${!name:-}"
}

velk_foreign_skipped() {
  local line='!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!'
  printf '%s\n' "$line" \
    "!!! $2: apt cannot install the $1 packages beside the native ones" \
    "!!! today (their versions are out of step in the archive). apt said:" "$line" \
    "$(velk_foreign_unavailable "$1")" "$line"
}

velk_build() {
  local preset=release
  if [ "${1:-}" = --preset ]; then
    preset=$2
    shift 2
  fi
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  echo "building the $preset preset: ${*:-everything} ..." >&2
  # Presets are read from the directory cmake runs in.
  (cd "$VELK_ROOT" && cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" ${targets[@]+"${targets[@]}"} >/dev/null)
}

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

VELK_CLEANUP=()
on_exit() { VELK_CLEANUP+=("$1"); }

stop_pid() {
  [ -n "${1:-}" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# Each step is taken off the list before it runs, so none runs twice; the
# script's exit status stays what it was.
velk_cleanup() {
  set +eu
  local step
  while [ ${#VELK_CLEANUP[@]} -gt 0 ]; do
    step=${VELK_CLEANUP[-1]}
    unset 'VELK_CLEANUP[-1]'
    eval "$step"
  done
}
trap velk_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
