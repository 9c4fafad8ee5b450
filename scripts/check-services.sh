#!/usr/bin/env bash
# Shows that installing the dependencies and starting the demo's server leave a service of the
# machine's own running: an FTP server like the user's own vsftpd (the packaged one under
# systemd when systemd runs, else /usr/sbin/vsftpd with the packaged /etc/vsftpd.conf, on
# loopback), then install-deps.sh with vsftpd installed again (its maintainer scripts stop and
# start the service on a reinstall), then the demo's server start and stop. Run as root; CI
# runs it after install-deps.sh. Exit 0 when the service still answers, 1 when it is gone.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"

if [ "$(id -u)" -ne 0 ]; then
    echo "check-services: skipped, it needs root (it installs packages and runs vsftpd)"
    exit 0
fi
"$here/scripts/install-deps.sh"

answers() { # PORT: the server's greeting arrives
    /usr/bin/python3 - "$1" <<'PY'
import socket, sys
with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5) as s:
    sys.exit(0 if s.recv(100).startswith(b"220") else 1)
PY
}

service_pid=""
kill_tree() { # PID: the process and everything it started (vsftpd's sessions call setsid)
    local child
    for child in $(pgrep -P "$1"); do kill_tree "$child"; done
    kill "$1" 2>/dev/null || true
}
stop_stand_in() { [ -z "$service_pid" ] || kill_tree "$service_pid"; }
trap stop_stand_in EXIT
if [ -d /run/systemd/system ]; then
    # The packaged service as a user runs it; it stays as the check found it.
    was_active=0
    systemctl is-active --quiet vsftpd && was_active=1
    [ "$was_active" -eq 1 ] || systemctl start vsftpd
    port=21
    running() { systemctl is-active --quiet vsftpd && answers "$port"; }
    [ "$was_active" -eq 1 ] || trap 'systemctl stop vsftpd' EXIT
else
    # No systemd here: the packaged daemon and configuration stand in for the service, on a
    # loopback port of their own.
    port=$((20000 + RANDOM % 9000))
    /usr/sbin/vsftpd /etc/vsftpd.conf -olisten=YES -olisten_ipv6=NO \
        -olisten_address=127.0.0.1 -olisten_port="$port" -obackground=NO &
    service_pid=$!
    running() { kill -0 "$service_pid" 2>/dev/null && answers "$port"; }
fi
for _ in $(seq 50); do running && break; sleep 0.1; done
running || { echo "check-services: the stand-in service did not start" >&2; exit 2; }
echo "service: vsftpd answers on 127.0.0.1:$port"

ZANDREL_DEPS_REINSTALL=vsftpd "$here/scripts/install-deps.sh"
running || { echo "check-services: install-deps.sh stopped vsftpd" >&2; exit 1; }
echo "after install-deps.sh (vsftpd reinstalled): still running"

(
    # shellcheck source=scripts/demo-lib.sh
    . "$here/scripts/demo-lib.sh"
    demo_workspace check-services
    mkdir -p "$work/root"
    demo_server "$work/root" "check-$$"
    echo "demo server on port $port"
)
running || { echo "check-services: the demo's server start or stop stopped vsftpd" >&2; exit 1; }
echo "after the demo's server start and stop: still running"
