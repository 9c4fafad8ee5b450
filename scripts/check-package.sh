#!/usr/bin/env bash
# Checks the install rules and the two Debian packages of a configured and built tree: a
# staged install, the desktop entry and AppStream metainfo, the man pages against --help,
# then each .deb's contents and control fields and what lintian says of it.
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
for tool in cpack desktop-file-validate dpkg-deb dpkg-shlibdeps lintian appstreamcli man; do
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

version="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$config")"
arch="$(dpkg --print-architecture)"
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

metainfo="$stage/usr/share/metainfo/io.github.zandrel.zandrel.metainfo.xml"
if [ ! -f "$metainfo" ]; then
    fail "the staged install has no share/metainfo/io.github.zandrel.zandrel.metainfo.xml"
elif ! appstreamcli validate --no-net --pedantic "$metainfo" >"$stage/appstream.log" 2>&1; then
    cat "$stage/appstream.log" >&2
    fail "appstreamcli validate rejects the metainfo"
fi

# ---- man pages: every option --help names, and nothing man itself complains of --------------
for program in zandrel zandrel-cli; do
    page="$stage/usr/share/man/man1/$program.1.gz"
    if [ ! -f "$page" ]; then
        fail "the staged install has no man page $program.1.gz"
        continue
    fi
    text="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$stage/usr/bin/$program" --help)" \
        || fail "$program --help exits with $?"
    rendered="$(LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -l "$page" 2>"$stage/man.log" | col -b)"
    if [ -s "$stage/man.log" ]; then
        cat "$stage/man.log" >&2
        fail "man warns about $program.1"
    fi
    for option in $(grep -oE -- '--[a-z][a-z-]+' <<<"$text" | sort -u); do
        grep -qF -- "$option" <<<"$rendered" || fail "$program.1 lacks $option, which --help names"
    done
    # The page is generated from this build's --help.
    grep -qF "$program $version" <<<"$rendered$(zcat "$page")" \
        || fail "$program.1 is not for version $version"
done

# ---- the package ---------------------------------------------------------------------------
outdir="$build/package"
mkdir -p "$outdir"
# Packages left by an earlier run must not pass for these.
rm -f "$outdir"/zandrel_*.deb "$outdir"/zandrel-cli_*.deb
if ! (cd "$build" && cpack -G DEB -B "$outdir") >"$stage/cpack.log" 2>&1; then
    cat "$stage/cpack.log" >&2
    echo "check-package: cpack failed" >&2
    exit 1
fi
gui="$outdir/zandrel_${version}_${arch}.deb"
cli="$outdir/zandrel-cli_${version}_${arch}.deb"
for deb in "$gui" "$cli"; do
    if [ ! -f "$deb" ]; then
        ls -l "$outdir" >&2 || true
        echo "check-package: cpack made no $(basename "$deb")" >&2
        exit 1
    fi
done

# Contents: each file in the package it belongs to.
check_contents() { # DEB PATH...
    local deb="$1" contents path
    shift
    contents="$(dpkg-deb -c "$deb" | awk '{print $NF}')"
    for path in "$@"; do
        grep -qxF "$path" <<<"$contents" || fail "$(basename "$deb") lacks $path"
    done
}
check_contents "$cli" ./usr/bin/zandrel-cli ./usr/share/man/man1/zandrel-cli.1.gz \
    ./usr/share/bash-completion/completions/zandrel-cli \
    ./usr/share/doc/zandrel-cli/copyright ./usr/share/doc/zandrel-cli/changelog.gz
gui_files=(
    ./usr/bin/zandrel
    ./usr/share/man/man1/zandrel.1.gz
    ./usr/share/doc/zandrel/copyright
    ./usr/share/doc/zandrel/changelog.gz
    ./usr/share/doc/zandrel/manual/index.html
    ./usr/share/doc/zandrel/screenshots/main-upload.png
    ./usr/share/doc/zandrel/screenshots/main-upload@2x.png
    ./usr/share/applications/zandrel.desktop
    ./usr/share/metainfo/io.github.zandrel.zandrel.metainfo.xml
    ./usr/share/mime/packages/zandrel.xml
    ./usr/share/icons/hicolor/scalable/apps/zandrel.svg
)
for size in 16 22 24 32 48 64 128 256; do
    gui_files+=("./usr/share/icons/hicolor/${size}x${size}/apps/zandrel.png")
done
check_contents "$gui" "${gui_files[@]}"
if dpkg-deb -c "$gui" | grep -q 'usr/bin/zandrel-cli$'; then
    fail "zandrel ships zandrel-cli, which is zandrel-cli's"
fi
if ! zcat "$build/packaging/changelog.gz" | head -1 | grep -qF "($version)"; then
    fail "packaging/changelog does not start with version $version"
fi

# Control fields.
field() { dpkg-deb -f "$1" "$2"; }
for deb in "$gui" "$cli"; do
    name="$(basename "$deb" | cut -d_ -f1)"
    [ "$(field "$deb" Package)" = "$name" ] || fail "Package is '$(field "$deb" Package)', not $name"
    [ "$(field "$deb" Version)" = "$version" ] || fail "$name: Version is '$(field "$deb" Version)'"
    [ "$(field "$deb" Architecture)" = "$arch" ] || fail "$name: Architecture is not $arch"
    [ "$(field "$deb" Homepage)" = https://github.com/zandrel/zandrel ] || fail "$name: no Homepage"
    if field "$deb" Maintainer | grep -q '\.invalid>'; then
        fail "$name: Maintainer has an .invalid address"
    fi
    if grep -q python <<<"$(field "$deb" Depends)"; then
        fail "$name: Depends names python, which the programs do not use"
    fi
done
depends="$(field "$gui" Depends)"
# Widgets, the multimedia library with its backend plugins, the xcb platform plugin's package,
# and the command line of the same version.
for package in libqt6widgets6 libqt6multimedia6 libqt6gui6 "zandrel-cli (= $version)"; do
    grep -qE "(^|[ ,])${package//[()]/.}( |,|$)" <<<"$depends" || fail "zandrel's Depends does not name $package"
done
# The command line for headless machines: Qt Core (and Network, were it used), nothing graphical.
cli_depends="$(field "$cli" Depends)"
for package in libqt6core6; do
    grep -qE "(^|[ ,])$package( |,|$)" <<<"$cli_depends" || fail "zandrel-cli's Depends does not name $package"
done
if grep -qiE 'gui|widgets|multimedia|opengl|xcb|x11' <<<"$cli_depends"; then
    fail "zandrel-cli's Depends names a graphical library: $cli_depends"
fi

# lintian: no error and no warning (information tags are shown, not counted).
if ! lintian --fail-on error,warning --info "$cli" "$gui" >"$stage/lintian.log" 2>&1; then
    fail "lintian reports errors or warnings"
fi
cat "$stage/lintian.log"

for deb in "$cli" "$gui"; do
    echo "== $(basename "$deb") ($(dpkg-deb -c "$deb" | grep -c .) entries)"
    dpkg-deb -f "$deb"
done
if [ ${#failures[@]} -ne 0 ]; then
    echo "check-package: ${#failures[@]} problem(s):" >&2
    printf '  %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "check-package: OK"
