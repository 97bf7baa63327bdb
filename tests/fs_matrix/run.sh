#!/usr/bin/env bash
# Splits and joins on the file systems people carry their files on: exFAT (exfat-fuse), FAT32
# (fusefat), NTFS (ntfs-3g), each on a small image of its own, and tmpfs for comparison. On
# each it runs tolvar-split as a user would and prints one line per file system and check:
#
#   split      split --checksums --recovery 1, then verify and `sha256sum -c`
#   resplit    a split over an older set of the same names
#   join-onto  a set on the local disk joined onto the image, compared byte for byte
#   join-from  the set on the image joined onto the local disk, compared byte for byte
#   in-place   a checksummed set copied onto the image and joined there in place, killed
#              (kill -9) once its first part is gone and run again: byte for byte, nothing of
#              the set left (exFAT); refused with nothing changed on fusefat (FAT), which spoils
#              a file's bytes when more are added after it was reopened
#   repair     a damaged part rebuilt from the recovery part, then verified and joined
#   killed     splits over an older set killed (kill -9) at several moments; the next command
#              (a join) finds either the whole old set or the whole new one, and a split after
#              it leaves no hidden file behind
#   remounted  splits over an older set killed (kill -9) during their commit, the image then
#              unmounted and mounted again (a stick pulled and put back: the FUSE drivers number
#              every file and folder afresh); the next command (a join) finds either the whole
#              old set or the whole new one, compared with cmp, and no hidden file is left
#              (exFAT and FAT)
#   bad-name   a name holding ':' refused before anything is written where the file system
#              cannot hold it (exFAT, FAT), kept where it can (NTFS, tmpfs)
#   size-max   split --size max of sparse files onto the small image: the largest part the
#              folder holds (2097151 K, within FAT32's 4 GiB - 1) is too large for one 1 MiB
#              smaller, and for one 4 MiB larger makes 2.0 GB of broken files, refused for the
#              room before anything is written (naming both figures and the folder) where the
#              driver reports its room, else stopped by the full disk; nothing is left
#   case       a split whose names differ only in case from a file of someone else's refused
#              where the folder ignores case (exFAT, FAT), the other file untouched everywhere
#
# Needs root (loop devices and mounts), /dev/fuse and the Debian packages exfat-fuse,
# exfatprogs, fusefat, dosfstools, ntfs-3g; without them it says why and exits 77 (skipped).
# Every mount, loop device and scratch file goes on every way out.
#
# usage: tests/fs_matrix/run.sh BUILD_DIR [FS...]   (the folder holding cli/tolvar-split; the
#        file systems to try, of exfat fat ntfs tmpfs, all by default)
# exit status: 0 all passed, 1 a check failed, 77 skipped
set -uo pipefail

buildDir=$(realpath -m "${1:?usage: $0 BUILD_DIR}")
cli=$buildDir/cli/tolvar-split
[ -x "$cli" ] || { echo "fs-matrix: no $cli (build the tolvar-split target first)" >&2; exit 1; }

skipAll() {
    echo "fs-matrix: skipped: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skipAll "loop images and mounts need root"
[ -c /dev/fuse ] || skipAll "no /dev/fuse"
for tool in losetup mkfs.exfat mount.exfat-fuse mkfs.vfat fusefat mkntfs ntfs-3g fusermount; do
    command -v "$tool" >/dev/null 2>&1 ||
        skipAll "$tool is missing (packages exfat-fuse exfatprogs fusefat dosfstools ntfs-3g)"
done

work=$(mktemp -d /tmp/tolvar-fs-matrix.XXXXXX)
mounts=()
loops=()
declare -A imageOf loopOf
cleanUp() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        fusermount -u "${mounts[$i]}" 2>/dev/null || umount "${mounts[$i]}" 2>/dev/null ||
            umount -l "${mounts[$i]}" 2>/dev/null
    done
    for i in "${loops[@]}"; do losetup -d "$i" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanUp EXIT
trap 'exit 130' INT TERM HUP

# The journals of killed runs are kept per user; this run's stay with it.
export XDG_STATE_HOME=$work/state
mkdir -p "$work/state" "$work/src" "$work/out"

passed=0
failed=0
row() { # row FS CHECK pass|FAIL|skip DETAIL
    printf '%-6s %-10s %-4s %s\n' "$1" "$2" "$3" "$4"
    case $3 in
    pass) passed=$((passed + 1)) ;;
    FAIL) failed=$((failed + 1)) ;;
    esac
}

# Sources of random bytes, their names ending in the tail the sets restore to.
head -c $((12 << 20)) /dev/urandom >"$work/src/movie.avi"
head -c $((17 << 20)) /dev/urandom >"$work/src/older.avi"
head -c $((40 << 20)) /dev/urandom >"$work/src/big.avi"
mkdir -p "$work/src/older" "$work/src/big"
cp "$work/src/older.avi" "$work/src/older/movie.avi"
cp "$work/src/big.avi" "$work/src/big/movie.avi"

image() { # image NAME SIZE_MB: an empty sparse image file
    truncate -s "$2M" "$work/$1.img" && echo "$work/$1.img"
}

mountFs() { # mountFs FS DIR: makes and mounts a fresh file system of that kind on DIR
    local fs=$1 dir=$2 img loop
    mkdir -p "$dir"
    case $fs in
    exfat)
        # exfat-fuse wants a block device, not an image file.
        img=$(image exfat 256) && mkfs.exfat "$img" >/dev/null &&
            loop=$(losetup -f --show "$img") && loops+=("$loop") && loopOf[$fs]=$loop &&
            mount.exfat-fuse "$loop" "$dir" >/dev/null 2>&1
        ;;
    fat) img=$(image fat 256) && mkfs.vfat -F 32 "$img" >/dev/null && imageOf[$fs]=$img &&
        fusefat -o rw+ "$img" "$dir" >/dev/null 2>&1 ;;
    ntfs) img=$(image ntfs 256) && mkntfs -F -Q "$img" >/dev/null 2>&1 &&
        ntfs-3g "$img" "$dir" >/dev/null 2>&1 ;;
    tmpfs) mount -t tmpfs -o size=256m tmpfs "$dir" ;;
    esac || return 1
    mounts+=("$dir")
    mountpoint -q "$dir"
}

remountFs() { # remountFs FS DIR: unmounts the file system on DIR and mounts it again
    local fs=$1 dir=$2
    fusermount -u "$dir" 2>/dev/null || umount "$dir" || return 1
    case $fs in
    exfat) mount.exfat-fuse "${loopOf[$fs]}" "$dir" >/dev/null 2>&1 ;;
    fat) fusefat -o rw+ "${imageOf[$fs]}" "$dir" >/dev/null 2>&1 ;;
    *) return 1 ;;
    esac
    mountpoint -q "$dir"
}

# The hidden files runs make, other than the backups a kill after the commit may leave.
leftovers() { find "$1" -name '.tolvar-*' ! -name '*.bak' -printf '%f '; }

runSplit() { timeout 120 "$cli" split --yes "$@" >"$work/last.out" 2>&1; }
runJoin() { timeout 120 "$cli" join --yes "$@" >"$work/last.out" 2>&1; }
lastWords() { tr '\n' ' ' <"$work/last.out" | cut -c1-150; }

checkSplit() {
    local d=$1/set
    mkdir -p "$d"
    if ! runSplit --size 3M --checksums --recovery 1 --prefix "$d/" "$work/src/movie.avi"; then
        echo "split failed: $(lastWords)"
        return 1
    fi
    local names
    names=$(cd "$d" && ls -A | tr '\n' ' ')
    [ "$names" = "movie.000 movie.001 movie.002 movie.003 movie.004 movie.r00 movie.sha256 movie.tolvar " ] ||
        { echo "files: $names"; return 1; }
    "$cli" verify "$d/movie.000" >"$work/last.out" 2>&1 || { echo "verify: $(lastWords)"; return 1; }
    (cd "$d" && sha256sum --quiet -c movie.sha256) >"$work/last.out" 2>&1 ||
        { echo "sha256sum -c: $(lastWords)"; return 1; }
    echo "5 parts, recovery part and checksum file; verify and sha256sum -c good"
}

checkResplit() {
    local d=$1/re
    mkdir -p "$d" "$work/out/re"
    runSplit --size 2M --checksums --prefix "$d/" "$work/src/older/movie.avi" ||
        { echo "first split failed: $(lastWords)"; return 1; }
    runSplit --size 3M --checksums --prefix "$d/" "$work/src/movie.avi" ||
        { echo "split over the older set failed: $(lastWords)"; return 1; }
    runJoin --prefix "$work/out/re/" "$d/movie.000" || { echo "join failed: $(lastWords)"; return 1; }
    cmp -s "$work/out/re/movie.avi" "$work/src/movie.avi" || { echo "joined file differs"; return 1; }
    local left
    left=$(leftovers "$d")
    [ -z "$left" ] || { echo "hidden files left: $left"; return 1; }
    [ ! -e "$d/movie.005" ] && [ ! -e "$d/movie.008" ] ||
        { echo "the older set's last parts were left"; return 1; }
    echo "9-part set replaced by a 5-part one, the older set's rest removed; joins byte for byte"
}

checkJoinOnto() {
    local d=$1/joined
    mkdir -p "$work/local" "$d"
    [ -f "$work/local/movie.000" ] ||
        runSplit --size 3M --checksums --prefix "$work/local/" "$work/src/movie.avi" ||
        { echo "split on the local disk failed: $(lastWords)"; return 1; }
    runJoin --prefix "$d/" "$work/local/movie.000" || { echo "join failed: $(lastWords)"; return 1; }
    cmp -s "$d/movie.avi" "$work/src/movie.avi" || { echo "joined file differs"; return 1; }
    [ -z "$(leftovers "$d")" ] || { echo "hidden files left: $(leftovers "$d")"; return 1; }
    echo "byte for byte"
}

checkInPlace() { # checkInPlace ROOT FS
    local d=$1/in-place pid
    mkdir -p "$work/local" "$d"
    [ -f "$work/local/movie.000" ] ||
        runSplit --size 3M --checksums --prefix "$work/local/" "$work/src/movie.avi" ||
        { echo "split on the local disk failed: $(lastWords)"; return 1; }
    cp "$work/local"/movie.* "$d/" || { echo "copying the set failed"; return 1; }
    # fusefat spoils a file's bytes when more are added after it was reopened: there an
    # in-place join is refused before anything changes.
    if [ "$2" = fat ]; then
        local before
        before=$(ls -A "$d" | tr '\n' ' ')
        timeout 120 "$cli" join --in-place --yes "$d/movie.000" >"$work/last.out" 2>&1 &&
            { echo "joined in place on fusefat"; return 1; }
        grep -q fusefat "$work/last.out" || { echo "refused otherwise: $(lastWords)"; return 1; }
        [ "$(ls -A "$d" | tr '\n' ' ')" = "$before" ] || { echo "files changed"; return 1; }
        echo "refused, nothing changed: $(lastWords)"
        return 0
    fi
    "$cli" join --in-place --yes "$d/movie.000" >"$work/last.out" 2>&1 &
    pid=$!
    # Killed once its first broken file is gone: the rest of the file is only in the others
    # and in the flushed part of its hidden file.
    local tries=0
    while [ -e "$d/movie.000" ] && kill -0 "$pid" 2>/dev/null && [ "$tries" -lt 6000 ]; do
        sleep 0.01
        tries=$((tries + 1))
    done
    kill -9 "$pid" 2>/dev/null
    local outcome="done before the kill"
    wait "$pid" 2>/dev/null || outcome="killed with $(ls "$d" | grep -c '^movie\.[0-9]') of 5 parts left"
    if [ "$(ls -A "$d")" != movie.avi ]; then
        timeout 120 "$cli" join --in-place --yes "$d/movie.000" >"$work/last.out" 2>&1 ||
            { echo "the join again after a kill failed: $(lastWords)"; return 1; }
    fi
    cmp -s "$d/movie.avi" "$work/src/movie.avi" || { echo "joined file differs"; return 1; }
    [ "$(ls -A "$d")" = movie.avi ] || { echo "left: $(ls -A "$d" | tr '\n' ' ')"; return 1; }
    echo "$outcome, joined again: byte for byte, nothing of the set left"
}

checkJoinFrom() {
    local out=$work/out/$2
    mkdir -p "$out"
    runJoin --prefix "$out/" "$1/set/movie.000" || { echo "join failed: $(lastWords)"; return 1; }
    cmp -s "$out/movie.avi" "$work/src/movie.avi" || { echo "joined file differs"; return 1; }
    echo "byte for byte"
}

checkRepair() {
    local d=$1/set out=$work/out/$2-repaired
    mkdir -p "$out"
    printf 'XXXXXXXX' | dd of="$d/movie.001" bs=1 seek=100000 conv=notrunc status=none
    "$cli" verify "$d/movie.000" >/dev/null 2>&1 && { echo "verify missed the damage"; return 1; }
    "$cli" repair "$d/movie.001" >"$work/last.out" 2>&1 || { echo "repair: $(lastWords)"; return 1; }
    "$cli" verify "$d/movie.000" >"$work/last.out" 2>&1 ||
        { echo "verify after repair: $(lastWords)"; return 1; }
    runJoin --prefix "$out/" "$d/movie.000" || { echo "join failed: $(lastWords)"; return 1; }
    cmp -s "$out/movie.avi" "$work/src/movie.avi" || { echo "joined file differs"; return 1; }
    [ -z "$(leftovers "$d")" ] || { echo "hidden files left: $(leftovers "$d")"; return 1; }
    echo "damaged part rebuilt, verified, joins byte for byte"
}

checkKilled() {
    local d=$1/kill out=$work/out/$2-killed delay pid outcome outcomes=() alive
    mkdir -p "$d" "$out"
    for delay in 0.02 0.05 0.1 0.2 0.4 0.8; do
        rm -rf "$d" && mkdir -p "$d"
        runSplit --size 4M --checksums --prefix "$d/" "$work/src/older/movie.avi" ||
            { echo "older set: $(lastWords)"; return 1; }
        "$cli" split --yes --size 4M --checksums --recovery 1 --prefix "$d/" \
            "$work/src/big/movie.avi" >/dev/null 2>&1 &
        pid=$!
        if [ "$delay" = going ]; then
            while kill -0 "$pid" 2>/dev/null &&
                { compgen -G "$d/.tolvar-*.tmp" >/dev/null ||
                    [ "$(compgen -G "$d/.tolvar-*.bak" | wc -l)" -ge "$oldParts" ]; }; do :; done
        else
            sleep "$delay"
        fi
        alive=no
        kill -0 "$pid" 2>/dev/null && alive=yes
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        # The next command in that folder puts back, or finishes, what the kill interrupted.
        rm -f "$out/movie.avi"
        runJoin --prefix "$out/" "$d/movie.000" || { echo "join after a kill at ${delay}s: $(lastWords)"; return 1; }
        if cmp -s "$out/movie.avi" "$work/src/older.avi"; then
            outcome=old
        elif cmp -s "$out/movie.avi" "$work/src/big.avi"; then
            outcome=new
        else
            echo "after a kill at ${delay}s the set is neither the old one nor the new"
            return 1
        fi
        [ "$alive" = yes ] || outcome="$outcome(done before the kill)"
        runSplit --size 4M --checksums --prefix "$d/" "$work/src/movie.avi" ||
            { echo "split after a kill at ${delay}s: $(lastWords)"; return 1; }
        [ -z "$(leftovers "$d")" ] ||
            { echo "hidden files left after a kill at ${delay}s: $(leftovers "$d")"; return 1; }
        outcomes+=("${delay}s:$outcome")
    done
    echo "${outcomes[*]}"
}

checkRemounted() { # checkRemounted ROOT FS
    local d=$1/remount out=$work/out/$2-remounted delay pid outcome outcomes=() alive left size=64K
    local oldParts
    mkdir -p "$out"
    # Hundreds of parts, so that the commit takes long enough to be caught in the middle;
    # fewer on FAT, whose driver looks a name up by reading the whole folder.
    [ "$2" = fat ] && size=512K
    # A number waits that many seconds into the commit; "going" waits until every new part has
    # its name and the first old one is gone (past the commit point).
    for delay in 0 0.1 0.3 1 going; do
        rm -rf "$d" && mkdir -p "$d"
        runSplit --size "$size" --prefix "$d/" "$work/src/older/movie.avi" ||
            { echo "older set: $(lastWords)"; return 1; }
        oldParts=$(find "$d" -name 'movie.[0-9][0-9][0-9]' | wc -l)
        "$cli" split --yes --size "$size" --prefix "$d/" "$work/src/big/movie.avi" >/dev/null 2>&1 &
        pid=$!
        # The commit has begun once an old part sits at a backup name.
        while kill -0 "$pid" 2>/dev/null && ! compgen -G "$d/.tolvar-*.bak" >/dev/null; do :; done
        if [ "$delay" = going ]; then
            while kill -0 "$pid" 2>/dev/null &&
                { compgen -G "$d/.tolvar-*.tmp" >/dev/null ||
                    [ "$(compgen -G "$d/.tolvar-*.bak" | wc -l)" -ge "$oldParts" ]; }; do :; done
        else
            sleep "$delay"
        fi
        alive=no
        kill -0 "$pid" 2>/dev/null && alive=yes
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        remountFs "$2" "$1" || { echo "the image did not mount again"; return 1; }
        rm -f "$out/movie.avi"
        runJoin --prefix "$out/" "$d/movie.000" ||
            { echo "join after a kill at ${delay} into the commit: $(lastWords)"; return 1; }
        if cmp -s "$out/movie.avi" "$work/src/older.avi"; then
            outcome=old
        elif cmp -s "$out/movie.avi" "$work/src/big.avi"; then
            outcome=new
        else
            echo "after a kill at ${delay} into the commit and a remount the set is neither the old one nor the new: $(lastWords)"
            return 1
        fi
        [ "$alive" = yes ] || outcome="$outcome(done before the kill)"
        left=$(find "$d" -name '.tolvar-*' -printf '%f ')
        [ -z "$left" ] || { echo "hidden files left after a kill at ${delay} into the commit: $left"; return 1; }
        outcomes+=("$delay:$outcome")
    done
    echo "${outcomes[*]}"
}

checkBadName() { # checkBadName ROOT HOLDS(yes|no)
    local d=$1/bad
    mkdir -p "$d"
    if runSplit --size 3M --prefix "$d/a:b." "$work/src/movie.avi"; then
        [ "$2" = yes ] || { echo "accepted a name this file system cannot hold"; return 1; }
        [ -f "$d/a:b.000" ] || { echo "split said yes but wrote no a:b.000"; return 1; }
        echo "kept, as this file system holds ':'"
        return 0
    fi
    [ "$2" = no ] || { echo "refused a name this file system holds: $(lastWords)"; return 1; }
    grep -q "':'" "$work/last.out" && grep -qF "$d" "$work/last.out" ||
        { echo "the refusal names neither the character nor the folder: $(lastWords)"; return 1; }
    [ -z "$(ls -A "$d")" ] || { echo "left behind: $(ls -A "$d" | tr '\n' ' ')"; return 1; }
    echo "refused, nothing written: $(lastWords)"
}

checkSizeMax() { # checkSizeMax ROOT
    local d=$1/max
    mkdir -p "$d"
    # Sparse sources: 1 MiB less than the largest part, and 4 MiB more.
    [ -f "$work/src/under.avi" ] || truncate -s $(((2 << 30) - (1 << 20))) "$work/src/under.avi"
    [ -f "$work/src/huge.avi" ] || truncate -s $(((2 << 30) + (4 << 20))) "$work/src/huge.avi"
    if runSplit --size max --prefix "$d/" "$work/src/under.avi" ||
        ! grep -qF "This file size is smaller than the selected split size." "$work/last.out"; then
        echo "max is not the largest part: $(lastWords)"
        return 1
    fi
    if runSplit --size max --prefix "$d/" "$work/src/huge.avi"; then
        echo "2 GiB of broken files accepted on a 256 MB image"
        return 1
    fi
    [ -z "$(ls -A "$d")" ] || { echo "left behind: $(ls -A "$d" | tr '\n' ' ')"; return 1; }
    # A driver that reports its room (fusefat reports none) is refused before the first byte.
    if grep -qF "The broken files need 2.0 GB in '$d'; it has " "$work/last.out"; then
        echo "2097151K parts, refused for the room before writing: $(lastWords)"
    elif [ "$(stat -f -c %b "$1")" -eq 0 ]; then
        echo "2097151K parts; room not reported, so the full disk stopped it and nothing is left: $(lastWords)"
    else
        echo "not refused for its room: $(lastWords)"
        return 1
    fi
}

checkCase() { # checkCase ROOT FOLDS(yes|no)
    local d=$1/case
    mkdir -p "$d"
    echo "someone else's file" >"$d/MOVIE.001"
    if runSplit --size 3M --prefix "$d/" "$work/src/movie.avi"; then
        [ "$2" = no ] || { echo "a set replaced MOVIE.001 on a folder that ignores case"; return 1; }
    else
        [ "$2" = yes ] || { echo "refused on a folder that keeps case apart: $(lastWords)"; return 1; }
        [ "$(ls -A "$d")" = MOVIE.001 ] || { echo "left behind: $(ls -A "$d" | tr '\n' ' ')"; return 1; }
    fi
    [ "$(cat "$d/MOVIE.001")" = "someone else's file" ] || { echo "MOVIE.001 changed"; return 1; }
    [ "$2" = yes ] && echo "refused, MOVIE.001 untouched: $(lastWords)" || echo "MOVIE.001 untouched beside movie.001"
}

check() { # check FS NAME FUNCTION ARGS...
    local fs=$1 name=$2 detail
    shift 2
    if detail=$("$@"); then
        row "$fs" "$name" pass "$detail"
    else
        row "$fs" "$name" FAIL "$detail"
    fi
}

fileSystems=("${@:2}")
[ ${#fileSystems[@]} -gt 0 ] || fileSystems=(exfat fat ntfs tmpfs)
for fs in "${fileSystems[@]}"; do
    root=$work/mnt/$fs
    if ! mountFs "$fs" "$root"; then
        row "$fs" all skip "the $fs image did not mount"
        continue
    fi
    holdsColon=no folds=yes
    case $fs in ntfs | tmpfs) holdsColon=yes folds=no ;; esac
    check "$fs" split checkSplit "$root"
    check "$fs" resplit checkResplit "$root"
    check "$fs" join-onto checkJoinOnto "$root"
    check "$fs" join-from checkJoinFrom "$root" "$fs"
    case $fs in exfat | fat) check "$fs" in-place checkInPlace "$root" "$fs" ;; esac
    check "$fs" repair checkRepair "$root" "$fs"
    check "$fs" killed checkKilled "$root" "$fs"
    case $fs in exfat | fat) check "$fs" remounted checkRemounted "$root" "$fs" ;; esac
    check "$fs" bad-name checkBadName "$root" "$holdsColon"
    check "$fs" case checkCase "$root" "$folds"
    check "$fs" size-max checkSizeMax "$root"
done

echo "fs-matrix: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
