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

# shellcheck source=scripts/demo-lib.sh
. "$here/scripts/demo-lib.sh"
demo_workspace dialogs
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"

demo_display
"$build/tests/tools/dialog_gallery" "$out"
