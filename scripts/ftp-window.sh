#!/usr/bin/env bash
# Opens the FTP window on a small demo site served by pyftpdlib on 127.0.0.1, the way the main
# window's "Browse the server folder" opens it for a real project (the password on standard
# input, not on the command line where every local user can read it). Close the window to end.
#
#   scripts/ftp-window.sh                    on the current display
#   scripts/ftp-window.sh --screenshot FILE  on a private Xvfb display: saves a PNG of the
#                                            window once it lists the folder, then closes it
#                                            (needs xvfb, x11-apps, x11-utils and imagemagick)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANDREL_BUILD_DIR:-$here/build}"
screenshot=""
if [ "${1:-}" = "--screenshot" ]; then
    screenshot="$(realpath -m "${2:?--screenshot needs a file name}")"
fi

if [ ! -x "$build/app/zandrel" ]; then
    "$here/scripts/install-deps.sh"
    "$here/scripts/build.sh" "$build"
fi

# shellcheck source=scripts/demo-lib.sh
. "$here/scripts/demo-lib.sh"
demo_workspace ftpwindow
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"

# The demo site.
site="$work/server/www"
mkdir -p "$site/css" "$site/images" "$site/downloads" "$site/blog/2026"
printf '<!doctype html>\n<title>Demo</title>\n' >"$site/index.html"
printf '<!doctype html>\n<title>About</title>\n' >"$site/about.html"
printf 'body { font: 14px sans-serif; }\n' >"$site/css/site.css"
printf 'RewriteEngine On\n' >"$site/.htaccess"
head -c 48213 /dev/zero >"$site/images/logo.png"
head -c 2411724 /dev/zero >"$site/downloads/brochure.pdf"
head -c 1000 /dev/zero >"$site/robots.txt"
printf 'console.log("demo");\n' >"$site/app.js"
touch -d '2026-11-28 14:05:09' "$site"/*.html "$site/css" "$site/images"

password="demo-$$-$RANDOM"
demo_server "$work/server" "$password" --command-log "$work/commands.log"

mkdir -p "$work/site"
project="$("$build/app/zandrel-cli" new --path "$work/site" --host 127.0.0.1 --port "$port" \
    --user demo --remote-path /www)"

if [ -z "$screenshot" ]; then
    ZANDREL_PASSWORD_ON_STDIN=1 "$build/app/zandrel" "$project" FTPWindow <<<"$password"
    exit 0
fi

demo_display
ZANDREL_PASSWORD_ON_STDIN=1 "$build/app/zandrel" "$project" FTPWindow <<<"$password" &
app=$!
pids+=($app)
for _ in $(seq 100); do grep -q '^MLSD' "$work/commands.log" 2>/dev/null && break; sleep 0.1; done
sleep 1.5 # let the window paint the listing
# The window itself, not the 1x1 group leader that carries the same title.
id="$(xwininfo -root -tree | awk '/"FTP Window/ && !/ 1x1\+/ && !id { id = $1 } END { print id }')"
[ -n "$id" ] || { echo "ftp-window: no FTP window on $display" >&2; exit 1; }
geometry="$(xwininfo -id "$id" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
    /Width:/ { w = $2 } /Height:/ { h = $2 } END { printf "%dx%d+%d+%d", w, h, x, y }')"
xwd -silent -root | /usr/bin/convert xwd:- -crop "$geometry" +repage "png:$screenshot"
kill -TERM "$app"
wait "$app"
echo "saved $screenshot"
