#!/usr/bin/env bash
# Checks the install rules and the Debian package of a configured and built tree:
# a staged install, the desktop entry, then the .deb's contents and control fields.
# Usage: scripts/check-package.sh BUILD_DIR
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build="$(cd "$1" && pwd)"
config="$build/CPackConfig.cmake"
if [ ! -f "$config" ]; then
    echo "check-package: $config not found; configure the tree with CMake first" >&2
    exit 2
fi
for tool in cpack desktop-file-validate dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "check-package: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 2
    fi
done

failures=()
fail() {
    failures+=("$1")
    echo "check-package: FAIL: $1" >&2
}

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT

# ---- staged install ------------------------------------------------------------------------
if ! cmake --install "$build" --prefix "$stage/usr" >"$stage/install.log" 2>&1; then
    cat "$stage/install.log" >&2
    echo "check-package: cmake --install failed" >&2
    exit 1
fi
desktop="$stage/usr/share/applications/zandrel.desktop"
if [ ! -f "$desktop" ]; then
    fail "the staged install has no share/applications/zandrel.desktop"
elif ! desktop-file-validate "$desktop"; then
    fail "desktop-file-validate rejects zandrel.desktop"
fi
mime="$stage/usr/share/mime/packages/zandrel.xml"
if [ -f "$mime" ] && command -v update-mime-database >/dev/null 2>&1; then
    # A malformed package would make the desktop's MIME database skip it.
    mkdir -p "$stage/mime/packages"
    cp "$mime" "$stage/mime/packages/"
    if ! update-mime-database "$stage/mime" >"$stage/mime.log" 2>&1 \
        || ! grep -q 'application/x-zandrel-project' "$stage/mime/globs2" 2>/dev/null; then
        cat "$stage/mime.log" >&2
        fail "update-mime-database does not take zandrel.xml"
    fi
fi

# ---- the package ---------------------------------------------------------------------------
version="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$config")"
arch="$(dpkg --print-architecture)"
outdir="$build/package"
deb="$outdir/zandrel_${version}_${arch}.deb"
mkdir -p "$outdir"
# A package left by an earlier run must not pass for this one.
rm -f "$outdir"/zandrel_*.deb
if ! (cd "$build" && cpack -G DEB -B "$outdir") >"$stage/cpack.log" 2>&1; then
    cat "$stage/cpack.log" >&2
    echo "check-package: cpack failed" >&2
    exit 1
fi
if [ ! -f "$deb" ]; then
    ls -l "$outdir" >&2 || true
    echo "check-package: cpack made no $(basename "$deb")" >&2
    exit 1
fi

contents="$(dpkg-deb -c "$deb" | awk '{print $NF}')"
expected=(
    ./usr/bin/zandrel
    ./usr/bin/zandrel-cli
    ./usr/share/doc/zandrel/manual/index.html
    ./usr/share/doc/zandrel/screenshots/main-upload.png
    ./usr/share/doc/zandrel/screenshots/main-upload@2x.png
    ./usr/share/applications/zandrel.desktop
    ./usr/share/mime/packages/zandrel.xml
    ./usr/share/icons/hicolor/scalable/apps/zandrel.svg
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/zandrel.png")
done
for path in "${expected[@]}"; do
    grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zandrel ] || fail "Package is '$(field Package)', not zandrel"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
depends="$(field Depends)"
# Widgets, the multimedia library with its backend plugins, and the xcb platform plugin's package.
for package in libqt6widgets6 libqt6multimedia6 libqt6gui6; do
    grep -qE "(^|[ ,])$package( |,|$)" <<<"$depends" || fail "Depends does not name $package"
done
if grep -q python <<<"$depends"; then
    fail "Depends names python, which the programs do not use"
fi

echo "== $(basename "$deb")"
dpkg-deb -f "$deb"
if [ ${#failures[@]} -ne 0 ]; then
    echo "check-package: ${#failures[@]} problem(s):" >&2
    printf '  %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "check-package: OK ($(grep -c . <<<"$contents") entries)"
