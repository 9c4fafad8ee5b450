#!/bin/sh
# Run under dbus-run-session by tests/support/PrivateKeyring.cpp with a private HOME folder:
# starts gnome-keyring-daemon with an empty login password, prints the bus address once the
# Secret Service answers, then waits for its standard input to close (the fixture ending, or the
# test process dying) and stops the daemon. The bus ends with this shell.
export HOME="$1" XDG_DATA_HOME="$1/data" XDG_RUNTIME_DIR="$1/run"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
echo | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
daemon=$!
for i in $(seq 1 200); do
    if dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
           org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
           grep -q 'boolean true'; then
        echo "BUS $DBUS_SESSION_BUS_ADDRESS"
        break
    fi
    sleep 0.05
done
read -r _
kill "$daemon"
wait "$daemon"
