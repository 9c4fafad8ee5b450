#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test Zandrel.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libssl-dev
    libgtest-dev libxxhash-dev
    xvfb xauth fonts-dejavu-core
    python3-pyftpdlib python3-openssl vsftpd
    libsecret-1-dev gnome-keyring dbus-daemon dbus-bin
    microsocks dante-server ftp-proxy
    libssh-dev openssh-server python3-asyncssh
    libmemcached11 libmemcachedutil2 libhiredis0.14 libsodium23 libpcre2-posix3
    openssl util-linux mount procps
    dpkg-dev desktop-file-utils lintian appstream help2man man-db bsdextrautils gzip
)

# proftpd and pure-ftpd conflict with vsftpd as installed packages and would start services:
# the tests run them from their Debian packages unpacked into a folder of their own.
test_servers=/opt/zandrel-test
declare -A unpack_into=([proftpd-core]=proftpd [proftpd-mod-crypto]=proftpd [pure-ftpd]=pure-ftpd)
for p in "${!unpack_into[@]}"; do
    [ -e "$test_servers/.$p" ] && continue
    if [ "$(id -u)" -ne 0 ]; then
        echo "install-deps: $p is not unpacked in $test_servers; run this script as root" >&2
        exit 1
    fi
    downloads=$(mktemp -d)
    chmod 755 "$downloads" # apt downloads as its own user
    (cd "$downloads" && { apt-get download -qq "$p" 2>/dev/null || { apt-get update -qq && apt-get download -qq "$p"; }; })
    mkdir -p "$test_servers/${unpack_into[$p]}"
    dpkg-deb -x "$downloads"/*.deb "$test_servers/${unpack_into[$p]}"
    rm -rf "$downloads"
    touch "$test_servers/.$p"
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# ZANDREL_DEPS_REINSTALL="pkg ..." installs those again (scripts/check-services.sh uses it to
# show that an install leaves running services alone).
reinstall=(${ZANDREL_DEPS_REINSTALL:-})

if [ ${#missing[@]} -eq 0 ] && [ ${#reinstall[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]}; run this script as root" >&2
    exit 1
fi

# Packaged daemons (vsftpd, danted, sshd, ...) must not start as system services: the tests start
# their own. A policy-rc.d that forbids every service action holds for this install only (it
# also keeps a reinstall from stopping or restarting a service already running: that may be
# the user's); the machine's own policy-rc.d, if any, is put back afterwards.
policy=/usr/sbin/policy-rc.d
saved="$(mktemp -d)"
if [ -e "$policy" ] || [ -L "$policy" ]; then
    cp -a "$policy" "$saved/policy-rc.d"
fi
restore_policy() {
    if [ -e "$saved/policy-rc.d" ] || [ -L "$saved/policy-rc.d" ]; then
        mv -f "$saved/policy-rc.d" "$policy"
    else
        rm -f "$policy"
    fi
    rm -rf "$saved"
}
trap restore_policy EXIT
trap 'exit 130' INT TERM
printf '#!/bin/sh\n# Written by Zandrel'"'"'s install-deps.sh for the length of one install.\nexit 101\n' >"$policy"
chmod 755 "$policy"

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ ${#reinstall[@]} -gt 0 ]; then
    apt-get install -y -qq --no-install-recommends --reinstall "${reinstall[@]}"
fi
# Under systemd the packages just installed here also enabled their units for the next boot;
# those units are this script's doing, so they are disabled again (never --now, and never a
# unit of a package that was installed before).
if [ -d /run/systemd/system ]; then
    for p in "${missing[@]}"; do
        units="$(dpkg-query -L "$p" 2>/dev/null |
            grep -E '^/(usr/)?lib/systemd/system/[^/@]+\.(service|socket)$' || true)"
        for unit in $units; do
            systemctl disable "$(basename "$unit")" >/dev/null 2>&1 || true
        done
    done
fi
