# Shared by the scripts that show the program on a demo site: source it, then
#   demo_workspace NAME         makes $work (removed on exit, with every process in $pids)
#   demo_server ROOT PASSWORD [pyftpd options]   serves ROOT on 127.0.0.1, sets $port
#   demo_display                a private Xvfb display with openbox, sized for QT_SCALE_FACTOR
demo_workspace() {
    work="$(mktemp -d "${TMPDIR:-/tmp}/zandrel-$1-XXXXXX")"
    pids=()
    trap demo_cleanup EXIT
    trap 'exit 130' INT TERM
}

demo_cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

demo_server() {
    local root="$1" password="$2"
    shift 2
    /usr/bin/python3 "$here/tests/support/pyftpd.py" --root "$root" --user demo \
        --password "$password" "$@" >"$work/server.out" 2>"$work/server.log" &
    pids+=($!)
    port=""
    for _ in $(seq 100); do
        # The server may not have opened its output yet.
        port="$(sed -n 's/^port \([0-9][0-9]*\)$/\1/p' "$work/server.out" 2>/dev/null || true)"
        [ -n "$port" ] && return 0
        sleep 0.1
    done
    cat "$work/server.log" >&2
    return 1
}

# Starts a private Xvfb display with the openbox window manager, as a plain desktop has, sized
# for QT_SCALE_FACTOR (1280x800 at 1); sets DISPLAY and adds both to $pids.
demo_display() {
    local scale="${QT_SCALE_FACTOR:-1}" display=":$((90 + RANDOM % 400))"
    Xvfb "$display" -screen 0 "$((1280 * scale))x$((800 * scale))x24" -nolisten tcp \
        >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    export DISPLAY="$display"
    for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.1
    done
    unset QT_QPA_PLATFORM
}
