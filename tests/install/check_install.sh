#!/usr/bin/env bash
# Checks what the project installs, from a built tree:
#   check_install.sh tree CMAKE BUILD_DIR SOURCE_DIR WORK_DIR
#       cmake --install into a scratch prefix, then checks the installed files;
#   check_install.sh package CPACK BUILD_DIR SOURCE_DIR WORK_DIR
#       cpack -G DEB, then checks the package's control fields and, unpacked, its files.
# Prints every problem it finds and exits non-zero if there was one.
set -uo pipefail

mode=$1 tool=$2 buildDir=$3 sourceDir=$4 workDir=$5
name=tolvar-files-splitter
mimeType=application/x-tolvar-broken-file
problems=0

problem() {
    echo "FAIL: $*"
    problems=$((problems + 1))
}

# checkFiles ROOT: ROOT is the install prefix (the scratch prefix, or usr/ of the package).
checkFiles() {
    local root=$1 program size icon manPage path

    for program in tolvar-files-splitter tolvar-split; do
        path=$root/bin/$program
        if [ ! -f "$path" ]; then
            problem "bin/$program is not installed"
        elif [ ! -x "$path" ] || ! file -b "$path" | grep -q '^ELF .* executable'; then
            problem "bin/$program is not an executable program: $(file -b "$path")"
        fi
    done

    local desktop=$root/share/applications/$name.desktop
    if [ -f "$desktop" ]; then
        local line
        for line in '[Desktop Entry]' 'Type=Application' 'Name=Tolvar Files Splitter' \
            "Exec=$name %f" "Icon=$name" "MimeType=$mimeType;"; do
            grep -qxF "$line" "$desktop" || problem "$name.desktop lacks the line '$line'"
        done
        grep -Eqx 'Categories=(.*;)?Utility;.*' "$desktop" ||
            problem "$name.desktop is not in the Utility category"
        desktop-file-validate "$desktop" || problem "$name.desktop is not a valid desktop entry"
        checkLoadsInGlib "$root" "$desktop"
    else
        problem "share/applications/$name.desktop is not installed"
    fi

    checkMimeType "$root"

    for size in 16 24 32 48 64 128 256; do
        icon=$root/share/icons/hicolor/${size}x$size/apps/$name.png
        if [ ! -f "$icon" ]; then
            problem "the ${size}x$size icon is not installed"
        elif ! file -b "$icon" | grep -q "^PNG image data, $size x $size,"; then
            problem "the ${size}x$size icon is $(file -b "$icon")"
        fi
    done

    icon=$root/share/icons/hicolor/scalable/apps/$name.svg
    file -b "$icon" 2>/dev/null | grep -q '^SVG Scalable Vector Graphics image' ||
        problem "the scalable icon is not installed as an SVG image"

    local metainfo=$root/share/metainfo/org.example.tolvar_files_splitter.metainfo.xml
    if [ ! -f "$metainfo" ]; then
        problem "share/metainfo/$(basename "$metainfo") is not installed"
    else
        appstreamcli validate --no-net "$metainfo" || problem "appstreamcli refuses the metainfo"
        grep -qF "<launchable type=\"desktop-id\">$name.desktop</launchable>" "$metainfo" ||
            problem "the metainfo does not launch $name.desktop"
    fi

    cmp -s "$sourceDir/README.md" "$root/share/doc/$name/README.md" ||
        problem "share/doc/$name/README.md is missing or differs from the README"
    cmp -s "$sourceDir/packaging/copyright" "$root/share/doc/$name/copyright" ||
        problem "share/doc/$name/copyright is missing or differs from packaging/copyright"
    gzip -dc "$root/share/doc/$name/changelog.gz" 2>/dev/null |
        cmp -s - "$sourceDir/packaging/changelog" ||
        problem "share/doc/$name/changelog.gz is missing or differs from packaging/changelog"
    # Where the installed programs look for their German words (share/locale beside bin/).
    msgunfmt "$root/share/locale/de/LC_MESSAGES/$name.mo" 2>/dev/null |
        grep -F 'msgstr "Datei erfolgreich zusammengefügt."' >/dev/null ||
        problem "share/locale/de/LC_MESSAGES/$name.mo is missing or holds no German"

    while IFS= read -r -d '' manPage; do
        # Installed gzipped, as Debian's policy has it, and the same page once unpacked; a
        # translation (a page in a folder named for a language of po/, as de/) under man/LANG/.
        local installed language
        language=$(basename "$(dirname "$manPage")")
        installed=man1/$(basename "$manPage").gz
        [ -f "$sourceDir/po/$language.po" ] && installed=$language/$installed
        gzip -dc "$root/share/man/$installed" 2>/dev/null | cmp -s - "$manPage" ||
            problem "the man page $installed is not installed, or differs from ${manPage#"$sourceDir"/}"
    done < <(find "$sourceDir" \( -name '.*' -o -name 'build*' \) -prune -o \
        -type f -name '*.1' -print0)

    # Headers, static libraries or test programs have no business on a user's machine.
    local strays
    strays=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name bin ! -name share)
    [ -z "$strays" ] || problem "installed outside bin/ and share/: $strays"
}

# checkLoadsInGlib ROOT DESKTOP: GNOME's menu and "Open With" read the entry through GLib,
# which drops an entry whose TryExec names no program on the PATH, silently and stricter than
# desktop-file-validate. Loaded with the installed programs first on the PATH, it must come
# back and list the broken files' type.
checkLoadsInGlib() {
    local root=$1 desktop=$2 types
    types=$(PATH=$root/bin:/usr/bin:/bin /usr/bin/python3 - "$desktop" 2>&1 <<'EOF'
import sys
import gi
gi.require_version("Gio", "2.0")
from gi.repository import Gio
try:
    info = Gio.DesktopAppInfo.new_from_filename(sys.argv[1])
except TypeError:  # the binding's word for a NULL the C call returned
    info = None
if info is None:
    sys.exit("GLib does not load the entry")
print(";".join(info.get_supported_types()))
EOF
    ) || {
        problem "$name.desktop: $types"
        return
    }
    grep -qxF "$mimeType" <<<"${types//;/$'\n'}" ||
        problem "GLib reads $name.desktop as opening '$types', not $mimeType"
}

# checkMimeType ROOT: the installed type makes a file manager take any broken file, by its tag
# or by the name of a first part, for the window's, and nothing else; tried in a scratch data
# folder with the installed programs.
checkMimeType() {
    local root=$1 data=$workDir/mime file type
    local packageFile=$root/share/mime/packages/$name.xml
    if [ ! -f "$packageFile" ]; then
        problem "share/mime/packages/$name.xml is not installed"
        return
    fi
    mkdir -p "$data/share/mime/packages" "$data/share/applications" "$data/config" "$data/set"
    cp "$packageFile" "$data/share/mime/packages/"
    cp "$root/share/applications/$name.desktop" "$data/share/applications/"
    update-mime-database "$data/share/mime" || problem "update-mime-database refused $name.xml"
    update-desktop-database "$data/share/applications" ||
        problem "update-desktop-database refused $name.desktop"

    head -c 300000 /dev/urandom >"$data/set/film.avi"
    printf 'notes\n' >"$data/set/notes.txt"
    "$root/bin/tolvar-split" split --size 100K --yes "$data/set/film.avi" >/dev/null 2>&1 ||
        problem "tolvar-split could not split a sample file"
    # Only the files' contents tell a later part: renamed, it is still found by its tag.
    cp "$data/set/film.002" "$data/set/renamed"
    mimeOf() {
        XDG_DATA_HOME=$data/share XDG_DATA_DIRS=/usr/share XDG_CONFIG_HOME=$data/config \
            xdg-mime query "$@" 2>&1
    }
    for file in film.000 film.002 renamed; do
        type=$(mimeOf filetype "$data/set/$file")
        [ "$type" = "$mimeType" ] || problem "xdg-mime calls $file '$type', not $mimeType"
    done
    for file in notes.txt film.avi; do
        type=$(mimeOf filetype "$data/set/$file")
        [ "$type" != "$mimeType" ] || problem "xdg-mime calls $file a broken file"
    done
    type=$(mimeOf default "$mimeType")
    [ "$type" = "$name.desktop" ] || problem "broken files open with '$type', not $name.desktop"
}

checkPackage() {
    local arch deb field value
    arch=$(dpkg --print-architecture)
    deb=$workDir/out/${name}_2.0_$arch.deb
    if [ ! -f "$deb" ]; then
        problem "cpack made no $(basename "$deb"): $(ls "$workDir/out")"
        return
    fi

    for field in Package:$name Version:2.0 Section:utils Architecture:$arch; do
        value=$(dpkg-deb -f "$deb" "${field%%:*}")
        [ "$value" = "${field#*:}" ] || problem "${field%%:*} is '$value', expected '${field#*:}'"
    done
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || problem "the package names no maintainer"
    [ -n "$(dpkg-deb -f "$deb" Description)" ] || problem "the package has no description"

    # The names alone, one a line: "libc6 (>= 2.34), libgcc-s1" gives libc6 and libgcc-s1.
    local depends names
    depends=$(dpkg-deb -f "$deb" Depends)
    names=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')
    for value in libqt6widgets6 libqt6core6 qt6-qpa-plugins libc6 libstdc++6; do
        grep -qxF "$value" <<<"$names" || problem "Depends lacks $value: $depends"
    done

    local outside
    outside=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -Ev '^\./(usr/.*)?$')
    [ -z "$outside" ] || problem "files outside /usr: $outside"

    dpkg-deb -x "$deb" "$workDir/unpacked"
    checkFiles "$workDir/unpacked/usr"
    checkLintian "$deb"
}

# checkLintian DEB: Debian's own checks find no error, and the programs are hardened (a
# missing flag is only a warning there, so those tags are looked for by name). The warnings
# left are printed for the record.
checkLintian() {
    local deb=$1 report tag
    if ! command -v lintian >/dev/null 2>&1; then
        problem "lintian is not installed"
        return
    fi
    report=$(lintian --tag-display-limit 0 "$deb" 2>&1)
    printf '%s\n' "$report"
    grep -q '^E: ' <<<"$report" && problem "lintian reports errors"
    for tag in hardening-no-relro hardening-no-bindnow hardening-no-fortify-functions \
        hardening-no-pie; do
        grep -q " $tag " <<<"$report " && problem "lintian: $tag"
    done
}

rm -rf "$workDir"
mkdir -p "$workDir"
case $mode in
tree)
    "$tool" --install "$buildDir" --prefix "$workDir/prefix" >"$workDir/install.log" 2>&1 || {
        cat "$workDir/install.log"
        problem "cmake --install failed"
    }
    checkFiles "$workDir/prefix"
    ;;
package)
    (cd "$buildDir" && "$tool" -G DEB -B "$workDir/out") >"$workDir/cpack.log" 2>&1 || {
        cat "$workDir/cpack.log"
        problem "cpack -G DEB failed"
    }
    checkPackage
    ;;
*)
    echo "unknown mode '$mode'"
    exit 2
    ;;
esac

if [ "$problems" -gt 0 ]; then
    echo "$problems problem(s) found"
    exit 1
fi
echo "all checks passed"
