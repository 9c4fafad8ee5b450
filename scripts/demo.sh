#!/usr/bin/env bash
# Demo: installs and builds Zandrel, then publishes a small site to an FTP server on loopback:
# a first upload (in the main window when a display is present, else with zandrel-cli), two
# changed files, a second upload with zandrel-cli that sends only those, and the server's tree
# at the end. Everything it makes lives in one temporary folder, and the
# server is stopped whatever happens.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANDREL_BUILD_DIR:-$here/build}"

"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$build"
cli="$build/app/zandrel-cli"

work="$(mktemp -d "${TMPDIR:-/tmp}/zandrel-demo-XXXXXX")"
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Projects and settings of the demo stay in the temporary folder.
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
unset ZANDREL_PASSWORD

step() { printf '\n== %s\n' "$*"; }

step "Starting an FTP server (pyftpdlib) on 127.0.0.1"
password="demo-$$-$RANDOM"
mkdir -p "$work/server"
fingerprint=""
if [ -f "$here/tests/support/pyftpd.py" ]; then
    # FTP over TLS with a certificate of its own: the project trusts it by its fingerprint, as
    # a user would trust a self-signed certificate of their hosting provider.
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
        -keyout "$work/key.pem" -out "$work/cert.pem" -subj /CN=127.0.0.1 \
        -addext subjectAltName=IP:127.0.0.1 2>/dev/null
    fingerprint="$(openssl x509 -noout -fingerprint -sha256 -in "$work/cert.pem" | cut -d= -f2)"
    /usr/bin/python3 "$here/tests/support/pyftpd.py" --root "$work/server" --user demo \
        --password "$password" --port 0 --certfile "$work/cert.pem" --keyfile "$work/key.pem" \
        >"$work/server.out" 2>"$work/server.log" &
else
    /usr/bin/python3 - "$work/server" "$password" >"$work/server.out" 2>"$work/server.log" <<'PY' &
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user('demo', sys.argv[2], sys.argv[1], perm='elradfmwMT')
FTPHandler.authorizer = authorizer
server = FTPServer(('127.0.0.1', 0), FTPHandler)
print('port %d' % server.address[1], flush=True)
server.serve_forever()
PY
fi
server_pid=$!
port=""
for _ in $(seq 1 100); do
    port="$(sed -n 's/^port \([0-9][0-9]*\)$/\1/p' "$work/server.out")"
    [ -n "$port" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "demo: the FTP server did not start:" >&2
    cat "$work/server.log" >&2
    exit 1
fi
echo "listening on port $port (empty folder $work/server)"

step "Creating a demo site"
site="$work/site"
mkdir -p "$site/css" "$site/images" "$site/blog"
cat >"$site/index.html" <<'EOF'
<!DOCTYPE html>
<html><head><title>Demo</title><link rel="stylesheet" href="css/style.css"></head>
<body><img src="images/logo.png" alt=""><h1>Welcome</h1><a href="about.html">About</a></body></html>
EOF
cat >"$site/about.html" <<'EOF'
<!DOCTYPE html>
<html><head><title>About</title><link rel="stylesheet" href="css/style.css"></head>
<body><h1>About this site</h1><a href="blog/first-post.html">First post</a></body></html>
EOF
cat >"$site/blog/first-post.html" <<'EOF'
<!DOCTYPE html>
<html><head><title>First post</title></head><body><p>Hello.</p></body></html>
EOF
cat >"$site/css/style.css" <<'EOF'
body { font-family: sans-serif; margin: 2em; }
EOF
echo 'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=' \
    | base64 -d >"$site/images/logo.png"
echo "an old copy that is never published" >"$site/index.html.bak"
# Times in the past, so the edits below are newer on any clock.
find "$site" -type f -exec touch -d '2024-01-01 12:00:00' {} +
(cd "$site" && find . -type f | sort)

step "zandrel-cli new"
printf '%s\n' "$password" >"$work/password"
project="$("$cli" new --path "$site" --host 127.0.0.1 --port "$port" --user demo \
    --password-file "$work/password" ${fingerprint:+--trust-certificate "$fingerprint"} |
    tail -n 1)"
echo "$project"
"$cli" list

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/app/zandrel" ]; then
    # With a display the main window makes the first upload ("1": upload at once, stay open;
    # ZANDREL_DEMO_GUI_MODE=2 closes it by itself when the upload ends).
    step "zandrel $project ${ZANDREL_DEMO_GUI_MODE:-1} (first upload in the main window; close it to go on)"
    "$build/app/zandrel" "$project" "${ZANDREL_DEMO_GUI_MODE:-1}"
else
    step "zandrel-cli upload demo@127.0.0.1 (first upload)"
    "$cli" upload demo@127.0.0.1
fi

step "Changing two files"
echo '<p>News: the site is online.</p>' >>"$site/blog/first-post.html"
echo 'h1 { color: #336; }' >>"$site/css/style.css"
"$cli" refresh --list demo@127.0.0.1

step "zandrel-cli upload demo@127.0.0.1 (only the changes)"
"$cli" upload demo@127.0.0.1

step "The server's tree"
(cd "$work/server" && find . | sort)

step "Done: the server is stopped and $work removed"
