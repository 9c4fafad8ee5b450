#!/usr/bin/env bash
# Every picture of the manual, drawn under Xvfb with the openbox window manager at 100% into
# docs/screenshots/NAME.png and at 200% (QT_SCALE_FACTOR=2) into docs/screenshots/NAME@2x.png:
#
#   scripts/screenshots.sh [FOLDER]    (default docs/screenshots)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
out="$(realpath -m "${1:-$here/docs/screenshots}")"

# What the pictures need beyond the build: a window manager and the X tools that find and crop
# a window.
missing=()
for p in openbox x11-utils x11-apps imagemagick; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    [ "$(id -u)" -eq 0 ] || { echo "screenshots: install ${missing[*]} first" >&2; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

shoot() { # FOLDER
    "$here/scripts/main-window-screenshots.sh" "$1"
    "$here/scripts/dialog-screenshots.sh" "$1"
    "$here/scripts/ftp-window.sh" --screenshot "$1/ftp-window.png"
}

mkdir -p "$out"
QT_SCALE_FACTOR=1 shoot "$out"
double="$(mktemp -d)"
trap 'rm -rf "$double"' EXIT
QT_SCALE_FACTOR=2 shoot "$double"
for picture in "$double"/*.png; do
    name="$(basename "$picture" .png)"
    mv "$picture" "$out/$name@2x.png"
done
