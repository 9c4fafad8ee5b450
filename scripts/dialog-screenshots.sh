#!/usr/bin/env bash
# Pictures of the settings dialogs (each options page, the organizer, the masks editor, the
# firewall, connection and sounds dialogs) as a private Xvfb display draws them, on demo
# projects in a throw-away home folder:
#
#   scripts/dialog-screenshots.sh [FOLDER]    (default docs/screenshots; needs xvfb)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANDREL_BUILD_DIR:-$here/build}"
out="$(realpath -m "${1:-$here/docs/screenshots}")"

if [ ! -x "$build/tests/tools/dialog_gallery" ]; then
    "$here/scripts/install-deps.sh"
    cmake -S "$here" -B "$build" -G Ninja >/dev/null
    cmake --build "$build" --target dialog_gallery
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/zandrel-dialogs-XXXXXX")"
xvfb=""
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"

display=":$((90 + RANDOM % 400))"
Xvfb "$display" -screen 0 1024x700x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY="$display"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
unset QT_QPA_PLATFORM
"$build/tests/tools/dialog_gallery" "$out"
