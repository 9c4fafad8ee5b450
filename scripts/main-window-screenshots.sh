#!/usr/bin/env bash
# Pictures of the main window (file view after a refresh, during an upload, log view after it,
# an upload on save)
# on a demo site published to pyftpdlib on loopback, drawn by a private Xvfb display:
#
#   scripts/main-window-screenshots.sh [FOLDER]    (default docs/screenshots; needs xvfb)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANDREL_BUILD_DIR:-$here/build}"
out="$(realpath -m "${1:-$here/docs/screenshots}")"

if [ ! -x "$build/tests/tools/main_window_gallery" ] || [ ! -x "$build/app/zandrel-cli" ]; then
    "$here/scripts/install-deps.sh"
    cmake -S "$here" -B "$build" -G Ninja >/dev/null
    cmake --build "$build" --target main_window_gallery zandrel-cli
fi

# shellcheck source=scripts/demo-lib.sh
. "$here/scripts/demo-lib.sh"
demo_workspace main
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME" "$work/server" "$out"

password="shots-$$"
# Throttled, so the upload runs long enough to be seen.
demo_server "$work/server" "$password" --bandwidth 400000

site="$work/my-site"
mkdir -p "$site/css" "$site/images" "$site/blog"
for page in index about contact; do echo "<html><title>$page</title></html>" >"$site/$page.html"; done
echo 'body { margin: 2em }' >"$site/css/style.css"
head -c 48000 /dev/urandom >"$site/images/photo.jpg"
head -c 3000 /dev/urandom >"$site/images/logo.png"
echo '<p>First post</p>' >"$site/blog/first-post.html"
find "$site" -type f -exec touch -d '2026-11-20 10:30:00' {} +
printf '%s\n' "$password" >"$work/password"
project="$("$build/app/zandrel-cli" new --path "$site" --host 127.0.0.1 --port "$port" \
    --user demo --password-file "$work/password" | tail -n 1)"
"$build/app/zandrel-cli" upload "$project" >/dev/null
# Two edits, a new page and a new video since that upload.
echo '<p>News</p>' >>"$site/index.html"
echo 'h1 { color: #336 }' >>"$site/css/style.css"
echo '<p>Second post</p>' >"$site/blog/second-post.html"
mkdir -p "$site/video"
head -c 8000000 /dev/urandom >"$site/video/tour.mp4"

demo_display
"$build/tests/tools/main_window_gallery" "$out" "$project"
