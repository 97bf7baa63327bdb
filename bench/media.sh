#!/usr/bin/env bash
# Times split and join onto removable-media file systems against `cp` of the same bytes onto
# the same image: exFAT (exfat-fuse, on a loop device), FAT32 (fusefat) and NTFS (ntfs-3g).
# For each file system, pairs of runs whose order alternates from pair to pair:
#   split: `tolvar-split split` into six parts of a local file onto the image, against `cp` of
#          it, and against `cp` of the same six parts (made beforehand) into an empty folder;
#   join:  `tolvar-split join` of a local set onto the image, against `cp` of the original.
# The second split baseline is there because ntfs-3g looks a file's path up again for every
# 4 KiB it writes, which costs a read of the folder's index once the folder holds more than a
# few names: any writer of six files into one folder pays it, one file into an empty one not.
# Every run is printed; each pair gives a ratio (ours / cp's: at most 1.1 is the target), and
# the summary is the median of the ratios with their range, never a best-of. Each timed run
# starts after `sync` and ends with its own `sync`, so both sides pay for the write-back; the
# target file is removed before each run.
#
# Needs root and the packages exfat-fuse exfatprogs fusefat dosfstools ntfs-3g. Run it on a
# quiet machine: the FUSE drivers are single-threaded and share the CPU with everything else.
#
# usage: bench/media.sh [BUILD_DIR]     (default build/release, built as needed)
# TOLVAR_MEDIA_MB      size of the test file in MiB (default 600)
# TOLVAR_MEDIA_PAIRS   pairs per file system and operation (default 5)
# TOLVAR_MEDIA_FS      the file systems to time (default "exfat fat ntfs")
# TOLVAR_MEDIA_DIR     where the images and the source go (default /dev/shm, else /var/tmp;
#                      up to 14 times the test file's size is used)
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

buildDir=$(realpath -m "${1:-$releaseDir}")
sizeMb=${TOLVAR_MEDIA_MB:-600}
pairs=${TOLVAR_MEDIA_PAIRS:-5}
[ "$(id -u)" -eq 0 ] || { echo "bench/media.sh needs root (loop devices, mounts)" >&2; exit 1; }
ensurePackages exfat-fuse exfatprogs fusefat dosfstools ntfs-3g fuse3
[ "$buildDir" != "$releaseDir" ] || configureRelease >/dev/null
cmake --build "$buildDir" -j"$jobs" --target tolvar-split >/dev/null
cli=$buildDir/cli/tolvar-split

# The images live in memory where they can: on a disk, every run's write-back to the disk
# under the loop device joins its time, and on a virtual disk shared with other machines
# that swings one run's time by a factor of three. What is timed is then the driver's work.
benchDir=${TOLVAR_MEDIA_DIR:-/dev/shm}
[ -d "$benchDir" ] && [ -w "$benchDir" ] || benchDir=/var/tmp
work=$(mktemp -d "$benchDir/tolvar-media-bench.XXXXXX")
mounts=()
loops=()
cleanUp() {
    local m
    for m in "${mounts[@]}"; do fusermount -u "$m" 2>/dev/null || umount -l "$m" 2>/dev/null; done
    for m in "${loops[@]}"; do losetup -d "$m" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanUp EXIT
trap 'exit 130' INT TERM HUP
export XDG_STATE_HOME=$work/state

head -c $((sizeMb << 20)) /dev/urandom >"$work/movie.avi"
mkdir -p "$work/set"
partMb=$(((sizeMb + 5) / 6))
"$cli" split --yes --size "${partMb}M" --prefix "$work/set/" "$work/movie.avi" >/dev/null 2>&1
imageMb=$((sizeMb * 5 + 256))

mountImage() { # mountImage FS DIR
    local img=$work/$1.img loop
    mkdir -p "$2"
    truncate -s "${imageMb}M" "$img"
    case $1 in
    exfat) mkfs.exfat "$img" >/dev/null && loop=$(losetup -f --show "$img") &&
        loops+=("$loop") && mount.exfat-fuse "$loop" "$2" >/dev/null 2>&1 ;;
    fat) mkfs.vfat -F 32 "$img" >/dev/null && fusefat -o rw+ "$img" "$2" >/dev/null 2>&1 ;;
    ntfs) mkntfs -F -Q "$img" >/dev/null 2>&1 && ntfs-3g "$img" "$2" >/dev/null 2>&1 ;;
    esac
    mounts+=("$2")
}

# timed COMMAND...: wall-clock nanoseconds of COMMAND and the sync after it, in lastNs.
timed() {
    sync
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>"$work/stderr" || { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
    sync
    end=$(date +%s%N)
    lastNs=$((end - start))
}

# summary NAME RATIOS...: the median and range of the ratios.
summary() {
    local name=$1
    shift
    printf '%s\n' "$@" | sort -g | awk -v name="$name" '
        { r[NR] = $1 }
        END { m = NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
              printf "  %-14s median %.2f x cp (range %.2f to %.2f, %d pairs)\n", name, m, r[1], r[NR], NR }'
}

for fs in ${TOLVAR_MEDIA_FS:-exfat fat ntfs}; do
    dir=$work/mnt/$fs
    if ! mountImage "$fs" "$dir"; then
        echo "$fs: the image did not mount; left out"
        continue
    fi
    mkdir -p "$dir/parts" "$dir/joined" "$dir/copy" "$dir/copyset"
    ours() {
        if [ "$1" = split ]; then
            rm -f "$dir"/parts/*
            timed "$cli" split --yes --size "${partMb}M" --prefix "$dir/parts/" "$work/movie.avi"
        else
            rm -f "$dir/joined/movie.avi"
            timed "$cli" join --yes --prefix "$dir/joined/" "$work/set/movie.000"
        fi
        oursNs=$lastNs
    }
    theirs() {
        if [ "$1" = split-set ]; then
            rm -f "$dir"/copyset/*
            timed cp "$work"/set/movie.00? "$dir/copyset/"
        else
            rm -f "$dir/copy/movie.avi"
            timed cp "$work/movie.avi" "$dir/copy/movie.avi"
        fi
        cpNs=$lastNs
    }
    echo "$fs (${sizeMb} MiB):"
    for op in split split-set join; do
        ratios=()
        for ((pair = 1; pair <= pairs; pair++)); do
            if ((pair % 2)); then ours "${op%-set}"; theirs "$op"; else theirs "$op"; ours "${op%-set}"; fi
            ratio=$(awk -v a="$oursNs" -v b="$cpNs" 'BEGIN { printf "%.3f", a / b }')
            ratios+=("$ratio")
            printf '  %s pair %d: ours %.2f s, cp %.2f s, ratio %s\n' "$op" "$pair" \
                "$(awk -v n="$oursNs" 'BEGIN { print n / 1e9 }')" \
                "$(awk -v n="$cpNs" 'BEGIN { print n / 1e9 }')" "$ratio"
        done
        summary "$op" "${ratios[@]}"
    done
done
