#!/bin/sh
# Join script written by Tolvar Files Splitter, for 'golden.bin'.
#
# It rebuilds 'golden.bin' from its broken files, 'golden.000' to 'golden.004',
# for whoever does not have Tolvar Files Splitter. Keep it in the folder that holds the
# broken files and run it with:
#
#     sh 'golden.join.sh'
#
# Before it writes anything it checks that every broken file is there and, when sha256sum
# or shasum is installed, that each one is as 'golden.sha256' lists it. It never
# replaces a file: if 'golden.bin' already exists it says so and stops. On Windows, run it
# with busybox for Windows: busybox sh 'golden.join.sh'

out='golden.bin'
base='golden.'
count=5
sums='golden.sha256'
whole=8274dca1dec01e180d795f8cfbe8f5948a22d53263d66c142ed63d55133259c9

say() { printf '%s\n' "$*" >&2; }
stop() { say "$@" 'Nothing was written.'; exit 1; }
fail() { rm -f "$tmp"; stop "$@"; }

case $0 in */*) cd "${0%/*}" || exit 1 ;; esac

if command -v sha256sum >/dev/null 2>&1; then
    digest() { sha256sum <"$1"; }
elif command -v shasum >/dev/null 2>&1; then
    digest() { shasum -a 256 <"$1"; }
else
    digest() { :; }
    say 'Neither sha256sum nor shasum is installed: the broken files cannot be checked.'
fi
if [ -n "$(digest /dev/null)" ] && [ ! -f "$sums" ]; then
    stop "$sums is missing, so the broken files cannot be checked: ask the sender for it again."
fi

i=0
while [ "$i" -lt "$count" ]; do
    part=$base$(printf '%03d' "$i")
    [ -f "$part" ] || stop "$part is missing: ask the sender for it again."
    d=$(digest "$part")
    if [ -n "$d" ]; then
        found=
        while IFS= read -r line; do
            [ "$line" = "${d%% *}  $part" ] && found=1
        done <"$sums"
        [ -n "$found" ] || stop "$part is damaged: ask the sender for it again."
    fi
    i=$((i + 1))
done
if [ -e "$out" ] || [ -L "$out" ]; then
    stop "$out already exists: move it away, then run this script again."
fi

tmp=.$out.$$.joining
trap 'rm -f "$tmp"; exit 1' HUP INT TERM
(set -C && : >"$tmp") 2>/dev/null || stop "Cannot create $tmp in this folder."
i=0
while [ "$i" -lt "$count" ]; do
    part=$base$(printf '%03d' "$i")
    tail -c +17 "$part" >>"$tmp" || fail "Cannot read $part or write $tmp."
    i=$((i + 1))
done
d=$(digest "$tmp")
if [ -n "$d" ] && [ "${d%% *}" != "$whole" ]; then
    fail "The joined file does not match the original's checksum: ask the sender for the set again."
fi
# A hard link never replaces a file; where the disk has none (FAT), mv does the naming.
if ln "$tmp" "$out" 2>/dev/null; then
    rm -f "$tmp"
elif [ -e "$out" ] || [ -L "$out" ]; then
    fail "$out already exists: move it away, then run this script again."
else
    mv "$tmp" "$out" || fail "Cannot name the joined file $out."
fi
say "$out is rebuilt."
