#!/bin/sh
# Renders the icons the windows use from Debian's breeze-icon-theme into the fallback theme that
# is compiled into the program (app/share/icons/zandrel-fallback). Run after changing the list;
# the PNGs are committed, so neither a build nor a user needs Breeze or an SVG renderer.
# Needs: apt-get install breeze-icon-theme librsvg2-bin
set -eu
src=/usr/share/icons/breeze
out=$(cd "$(dirname "$0")/.." && pwd)/app/share/icons/zandrel-fallback
[ -d "$src" ] || { echo "$src not found: apt-get install breeze-icon-theme" >&2; exit 1; }
command -v rsvg-convert >/dev/null || { echo "rsvg-convert not found: apt-get install librsvg2-bin" >&2; exit 1; }

# context/name[=breeze-name]: the name the program asks for, and Breeze's where it differs.
icons="
actions/application-exit actions/cloud-download actions/cloud-upload actions/document-new
actions/document-properties actions/edit-delete actions/edit-rename actions/edit-select-all
actions/folder-new actions/folder-sync actions/go-up actions/help-about actions/help-contents
actions/network-connect actions/object-select=checkmark actions/process-stop actions/view-refresh
actions/view-list-details
places/folder places/folder-open places/folder-remote
mimetypes/application-javascript mimetypes/application-json mimetypes/application-octet-stream
mimetypes/application-pdf mimetypes/application-x-executable mimetypes/application-x-php
mimetypes/application-xml mimetypes/application-zip mimetypes/audio-x-generic
mimetypes/font-x-generic=application-x-font-ttf mimetypes/image-gif mimetypes/image-jpeg
mimetypes/image-png mimetypes/image-svg+xml mimetypes/image-vnd.microsoft.icon
mimetypes/image-x-generic mimetypes/package-x-generic mimetypes/text-css mimetypes/text-html
mimetypes/text-javascript mimetypes/text-markdown mimetypes/text-plain mimetypes/text-x-generic
mimetypes/text-x-script mimetypes/text-xml mimetypes/unknown mimetypes/video-x-generic
"

# The first of Breeze's design sizes that exists, so each size is drawn from the nearest design.
pick() { # context name sizes...
    context=$1 name=$2
    shift 2
    for s in "$@"; do
        [ -e "$src/$context/$s/$name.svg" ] && { echo "$src/$context/$s/$name.svg"; return; }
    done
    echo "no Breeze icon $context/$name" >&2
    exit 1
}

# The notice (COPYING, LGPL-3.txt) stays; the rendered sizes are made afresh.
rm -rf "$out"/[0-9]*x[0-9]*
for entry in $icons; do
    context=${entry%%/*}
    rest=${entry#*/}
    name=${rest%%=*}
    from=${rest#*=}
    # dir:pixels:design sizes to try
    for size in 16x16:16:16,22 22x22:22:22,16 32x32:32:32,22 48x48:48:48,64,32,22 \
        16x16@2:32:16,22 22x22@2:44:22,16; do
        dir=${size%%:*}
        px=${size#*:}
        px=${px%%:*}
        sizes=$(echo "${size##*:}" | tr , ' ')
        # shellcheck disable=SC2086
        svg=$(pick "$context" "$from" $sizes)
        mkdir -p "$out/$dir/$context"
        rsvg-convert -w "$px" -h "$px" -o "$out/$dir/$context/$name.png" "$svg"
    done
done

{
    echo "[Icon Theme]"
    echo "Name=Zandrel fallback"
    echo "Comment=Breeze icons the program ships for desktops whose theme lacks them"
    printf "Directories="
    first=1
    for dir in 16x16 22x22 32x32 48x48 16x16@2 22x22@2; do
        for context in actions places mimetypes; do
            [ $first = 1 ] || printf ","
            first=0
            printf "%s/%s" "$dir" "$context"
        done
    done
    echo
    for dir in 16x16 22x22 32x32 48x48 16x16@2 22x22@2; do
        size=${dir%%x*}
        scale=1
        case $dir in *@2) scale=2 ;; esac
        for context in actions places mimetypes; do
            echo
            echo "[$dir/$context]"
            echo "Size=$size"
            echo "Scale=$scale"
            echo "Type=Fixed"
            case $context in
            actions) echo "Context=Actions" ;;
            places) echo "Context=Places" ;;
            mimetypes) echo "Context=MimeTypes" ;;
            esac
        done
    done
} >"$out/index.theme"
echo "$(find "$out" -name '*.png' | wc -l) icons in $out"
