#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test Zandrel.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libssl-dev
    libgtest-dev
    xvfb xauth fonts-dejavu-core
    python3-pyftpdlib python3-openssl vsftpd
    microsocks dante-server ftp-proxy
    libmemcached11 libmemcachedutil2 libhiredis0.14 libsodium23 libpcre2-posix3
    openssl util-linux procps
    dpkg-dev desktop-file-utils
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

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]}; run this script as root" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
# The packaged daemons must not keep running system-wide: tests start their own.
for svc in vsftpd danted ftp-proxy microsocks; do
    if command -v systemctl >/dev/null 2>&1; then systemctl disable --now "$svc" >/dev/null 2>&1 || true; fi
    pkill -x "$svc" >/dev/null 2>&1 || true
done
