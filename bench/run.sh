#!/usr/bin/env bash
# Times the engine against coreutils, fairly: a 1 GiB file of random bytes split into 100 MiB
# parts against `split -b 100M`, and the parts joined again against `cat` of the parts into one
# file, in paired runs whose order alternates from pair to pair. Every run is printed; each
# pair gives a ratio (our time / coreutils' time: below 1.0 we are faster), and the summary is
# the median of those ratios with their spread, never a best-of. `cp` of the source, measured
# in every pair too, is the fastest this machine copies a file.
#
# It runs on a disk folder and on a tmpfs (no disk at all: pure CPU and memory work), each once
# with a cold write-back (`sync` before every timed run, so no earlier run's write-back lands
# in it) and once without (the previous runs' dirty pages are still being written back, as
# when a user splits two files in a row); each pair also times `dd` writing 1 GiB of zeros
# into a reserved file, the floor under any join. Then, on the disk folder, paired runs of a
# plain split against `split --checksums` (target: at most 3 times the plain split's time) and
# against one `openssl dgst -sha256` of the source, the time `tolvar-split verify` takes over
# the checksummed set (target: at least 1 GB/s), and `split --checksums --recovery 2` against
# `split --checksums` (target: at most 2 times), and `join --in-place` and `split --in-place`
# against the plain join and split (target: at most 1.1 times each). It ends with the engine's
# peak RSS at 16 MiB and at 1 GiB.
#
# usage: bench/run.sh [BUILD_DIR]     (default build/release, configured and built as needed)
# TOLVAR_BENCH_DIR     disk folder in which the scratch folder is made (default /var/tmp);
#                      it needs about 4.5 GiB free
# TOLVAR_BENCH_TMPFS   tmpfs folder for the second location (default /dev/shm; empty: skip)
# TOLVAR_BENCH_PAIRS   pairs of runs per location and write-back mode (default 7)
# TOLVAR_BENCH_IN_PLACE_MIB  size of the in-place runs' file in MiB (default 1024)
# TOLVAR_BENCH_ONLY=in-place  run only the in-place join and split against the plain ones
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

buildDir=$(realpath -m "${1:-$releaseDir}")
pairs=${TOLVAR_BENCH_PAIRS:-7}
tmpfsDir=${TOLVAR_BENCH_TMPFS-/dev/shm}

ensurePackages "${buildPackages[@]}" time openssl
if [ "$buildDir" = "$releaseDir" ]; then
    configureRelease >/dev/null
elif [ ! -f "$buildDir/CMakeCache.txt" ]; then
    configureBuild "$buildDir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$buildDir" -j"$jobs" --target tolvar-bench >"$buildDir/bench-build.log" 2>&1 || {
    cat "$buildDir/bench-build.log" >&2
    exit 1
}
withCli=false
if hasTarget "$buildDir" tolvar-split; then
    if cmake --build "$buildDir" -j"$jobs" --target tolvar-split >"$buildDir/bench-build.log" 2>&1
    then
        withCli=true
    else
        echo "tolvar-split did not build (see $buildDir/bench-build.log); it is left out" >&2
    fi
fi

findProgram() {
    find "$buildDir" -path "$buildDir/tests" -prune -o -type f -name "$1" -perm -u+x -print -quit
}
bench=$(findProgram tolvar-bench)
cli=""
$withCli && cli=$(findProgram tolvar-split)

scratches=()
cleanUp() { [ "${#scratches[@]}" -eq 0 ] || rm -rf "${scratches[@]}"; }
trap cleanUp EXIT
newScratch() {
    local dir
    dir=$(mktemp -d "$1/tolvar-bench.XXXXXX")
    scratches+=("$dir")
    echo "$dir"
}

# timeRun OUT COMMAND...: runs COMMAND with its standard output in OUT, after `sync` when the
# write-back is to be cold. Sets lastNs (wall clock) and lastKb (peak resident set).
syncFirst=true
timeRun() {
    local out=$1 start end
    shift
    $syncFirst && sync
    start=$(date +%s%N)
    if ! /usr/bin/time -f %M -o "$scratch/rss" "$@" >"$out" 2>"$scratch/stderr"; then
        echo "failed: $*" >&2
        cat "$scratch/stderr" >&2
        exit 1
    fi
    end=$(date +%s%N)
    lastNs=$((end - start))
    lastKb=$(tail -n 1 "$scratch/rss")
}

# splitWith WHO SOURCE PARTS_KB and joinWith WHO: one timed split or join into WHO's own
# folder, whose previous output is removed first, outside the timing. Every contender's
# joined file is joined.bin.
splitWith() {
    local who=$1 source=$2 kb=$3 dir=$scratch/$1
    rm -rf "$dir"
    mkdir -p "$dir"
    case $who in
    coreutils) timeRun /dev/null split -b "${kb}K" "$source" "$dir/part." ;;
    engine) timeRun /dev/null "$bench" split-size "$source" "$kb" "$dir/part." ;;
    observed) timeRun /dev/null "$bench" --observe split-size "$source" "$kb" "$dir/part." ;;
    checksums) timeRun /dev/null "$bench" --checksums split-size "$source" "$kb" "$dir/part." ;;
    recovery) timeRun /dev/null "$bench" --checksums --recovery 2 split-size "$source" "$kb" \
        "$dir/part." ;;
    cli) timeRun /dev/null "$cli" split --size "${kb}K" "$source" --yes --prefix "$dir/part" \
        </dev/null ;;
    esac
}

joinWith() {
    local who=$1 dir=$scratch/$1
    rm -f "$dir/joined.bin"
    case $who in
    coreutils) timeRun "$dir/joined.bin" cat "$dir"/part.* ;;
    engine) timeRun /dev/null "$bench" assemble "$dir/part.000" "$dir/joined." ;;
    observed) timeRun /dev/null "$bench" --observe assemble "$dir/part.000" "$dir/joined." ;;
    cli) timeRun /dev/null "$cli" join "$dir/part.000" --yes --prefix "$dir/joined" </dev/null ;;
    esac
}

copyWith() {
    rm -f "$scratch/cp.bin"
    timeRun /dev/null cp "$1" "$scratch/cp.bin"
    rm -f "$scratch/cp.bin"
}

# dd writing 1 GiB of zeros into a file reserved at that size beforehand, outside the timing:
# what writing 1 GiB through the page cache costs at all, the floor under any join.
zerosWith() {
    rm -f "$scratch/zeros.bin"
    fallocate -l 1G "$scratch/zeros.bin"
    timeRun /dev/null dd if=/dev/zero of="$scratch/zeros.bin" bs=1M count=1024 conv=notrunc \
        status=none
    rm -f "$scratch/zeros.bin"
}

# Each contender's parts hold the source; ours carry one 16-byte header more each.
checkOutputs() {
    local who=$1 source=$2 parts
    cmp -s "$source" "$scratch/$who/joined.bin" || {
        echo "$who: the joined file differs from the source" >&2
        exit 1
    }
    parts=("$scratch/$who"/part.*)
    [ "${#parts[@]}" -eq "$3" ] || {
        echo "$who: ${#parts[@]} parts, expected $3" >&2
        exit 1
    }
}

contenders=(coreutils engine observed)
[ -n "$cli" ] && contenders+=(cli)

declare -A ns peakKb
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
# note KEY: remembers lastNs for KEY in this pair and the largest peak RSS of KEY.
note() {
    ns[$1]=$lastNs
    if [ -z "${peakKb[$1]:-}" ] || [ "$lastKb" -gt "${peakKb[$1]}" ]; then
        peakKb[$1]=$lastKb
    fi
}
# Per-pair ratios, one list per contender and operation ("engine.split" ...), and the summary.
declare -A ratios
spread() {
    tr ' ' '\n' <<<"$1" | grep . | sort -g |
        awk '{ r[NR] = $1 } END {
            m = NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
            printf "%.2f (%.2f to %.2f, %d pairs)", m, r[1], r[NR], NR }'
}

# measure LABEL: paired runs in the current scratch folder; prints every run, then the summary.
measure() {
    local label=$1 pair who op first order line
    ratios=()
    echo
    echo "== $label"
    for ((pair = 0; pair <= pairs; pair++)); do
        # Rotate who goes first, so no contender always runs on a cache the previous one warmed.
        first=$((pair % ${#contenders[@]}))
        order=("${contenders[@]:first}" "${contenders[@]:0:first}")
        for who in "${order[@]}"; do
            splitWith "$who" "$scratch/big.bin" 102400
            note "$who.split"
        done
        for who in "${order[@]}"; do
            joinWith "$who"
            note "$who.join"
            [ "$pair" -eq 0 ] && checkOutputs "$who" "$scratch/big.bin" 11
            rm -f "$scratch/$who/joined.bin"
        done
        copyWith "$scratch/big.bin"
        note cp
        zerosWith
        note zeros
        # Pair 0 warms up: first use of fresh memory is slow in a virtual machine.
        line="split:"
        for who in "${order[@]}"; do line+=" $who $(seconds "${ns[$who.split]}")"; done
        line+="  join:"
        for who in "${order[@]}"; do line+=" $who $(seconds "${ns[$who.join]}")"; done
        line+="  cp $(seconds "${ns[cp]}")  dd $(seconds "${ns[zeros]}")"
        if [ "$pair" -eq 0 ]; then
            echo "  warm-up   $line"
            continue
        fi
        echo "  pair $pair/$pairs  $line"
        for who in "${contenders[@]}" cp; do
            for op in split join; do
                [ "$who" = coreutils ] && continue
                local key=$who.$op mine=${ns[$who.$op]:-${ns[cp]}}
                ratios[$key]+=" $(awk -v a="$mine" -v b="${ns[coreutils.$op]}" \
                    'BEGIN { printf "%.4f", a / b }')"
            done
        done
        ratios[zeros]+=" $(awk -v a="${ns[engine.join]}" -v b="${ns[zeros]}" \
            'BEGIN { printf "%.4f", a / b }')"
    done
    for who in "${contenders[@]}"; do rm -rf "${scratch:?}/$who"; done
    echo "  $label, ratio to coreutils, median (min to max):"
    for who in "${contenders[@]:1}" cp; do
        printf '    %-9s split %s   join %s\n' "$who" "$(spread "${ratios[$who.split]}")" \
            "$(spread "${ratios[$who.join]}")"
    done
    echo "    engine join / dd of 1 GiB of zeros into a reserved file: $(spread "${ratios[zeros]}")"
    summary+=("$label|$(spread "${ratios[engine.split]}")|$(spread "${ratios[engine.join]}")")
    summary+=("  cp (the copy ceiling)|$(spread "${ratios[cp.split]}")|$(spread "${ratios[cp.join]}")")
}

# benchIn FOLDER: both write-back modes in a scratch folder made in FOLDER.
benchIn() {
    scratch=$(newScratch "$1")
    local fileSystem
    fileSystem=$(df -T "$scratch" | awk 'NR == 2 { print $2 }')
    echo
    echo "Creating a 1 GiB file of random bytes in $scratch ($fileSystem)"
    head -c 1G /dev/urandom >"$scratch/big.bin"
    cat "$scratch/big.bin" >/dev/null
    syncFirst=true
    measure "$fileSystem, cold write-back (sync before each run)"
    syncFirst=false
    measure "$fileSystem, write-back running (no sync between runs)"
    rm -rf "$scratch"
}

# benchJoinInPlace FOLDER: `join --in-place` against the plain join of the same checksummed set
# (100 MiB parts) that ends the same way, with the broken files gone (`--delete-parts`, which
# flushes the rebuilt file before it deletes them, as the in-place join does for each part), in
# alternating order with a cold write-back; the set is split again, outside the timing, before
# each run. Target: at most 1.1 times the plain join's time.
benchJoinInPlace() {
    [ -n "$cli" ] || { echo "in-place join: skipped (no tolvar-split)"; return; }
    scratch=$(newScratch "$1")
    local mib=${TOLVAR_BENCH_IN_PLACE_MIB:-1024} pair who line ratios=""
    local kb=$((mib >= 1024 ? 102400 : (mib * 1024 / 10 > 0 ? mib * 1024 / 10 : 1)))
    echo
    echo "== in-place join of $mib MiB against the plain join (checksums, cold write-back)"
    head -c "${mib}M" /dev/urandom >"$scratch/big.bin"
    syncFirst=true
    for ((pair = 0; pair <= pairs; pair++)); do
        order=(plain in-place)
        ((pair % 2 == 0)) || order=(in-place plain)
        line=""
        for who in "${order[@]}"; do
            rm -rf "${scratch:?}/$who"
            mkdir -p "$scratch/$who"
            cp "$scratch/big.bin" "$scratch/$who/big.bin"
            "$cli" split --size "${kb}K" --checksums --delete-source --yes \
                "$scratch/$who/big.bin" </dev/null 2>/dev/null
            if [ "$who" = plain ]; then
                timeRun /dev/null "$cli" join --yes --delete-parts "$scratch/$who/big.000" </dev/null
            else
                timeRun /dev/null "$cli" join --in-place --yes "$scratch/$who/big.000" </dev/null
            fi
            note "$who.join"
            cmp -s "$scratch/big.bin" "$scratch/$who/big.bin" || {
                echo "$who: the joined file differs from the source" >&2
                exit 1
            }
            line+=" $who $(seconds "$lastNs")"
        done
        if [ "$pair" -eq 0 ]; then
            echo "  warm-up  $line"
            continue
        fi
        echo "  pair $pair/$pairs $line"
        ratios+=" $(awk -v a="${ns[in-place.join]}" -v b="${ns[plain.join]}" \
            'BEGIN { printf "%.4f", a / b }')"
    done
    echo "  join --in-place / join --delete-parts: $(spread "$ratios")   (target <= 1.1)"
    rm -rf "$scratch"
}

# benchSplitInPlace FOLDER: split --in-place against a plain split of the same file that ends the
# same way, with the source gone (`--delete-source`; target: at most 1.1 times its time), both
# through tolvar-split, in alternating order with a cold write-back.
# Each run splits a fresh copy of the source, made outside the timing in a folder of its own,
# and its parts go beside it; the in-place set of the warm-up pair is joined and compared.
benchSplitInPlace() {
    if [ -z "$cli" ]; then
        echo "in place: skipped (no tolvar-split)"
        return
    fi
    scratch=$(newScratch "$1")
    local size=${TOLVAR_BENCH_IN_PLACE_MIB:-1024}M pair who line inPlaceRatios="" kb
    echo
    echo "== in place: split --in-place against split, $size, 10 parts and the rest (cold write-back)"
    head -c "$size" /dev/urandom >"$scratch/big.bin"
    kb=$(($(stat -c %s "$scratch/big.bin") / 10 / 1024))
    [ "$kb" -ge 1 ] || kb=1
    syncFirst=true
    for ((pair = 0; pair <= pairs; pair++)); do
        order=(plain inplace)
        [ $((pair % 2)) -eq 1 ] && order=(inplace plain)
        line=""
        for who in "${order[@]}"; do
            rm -rf "${scratch:?}/$who"
            mkdir -p "$scratch/$who"
            cp "$scratch/big.bin" "$scratch/$who/big.bin"
            if [ "$who" = inplace ]; then
                timeRun /dev/null "$cli" split --in-place --size "${kb}K" --yes \
                    "$scratch/$who/big.bin" </dev/null
            else
                timeRun /dev/null "$cli" split --size "${kb}K" --delete-source --yes "$scratch/$who/big.bin" \
                    </dev/null
            fi
            ns[$who]=$lastNs
            line+=" $who $(seconds "$lastNs")"
        done
        if [ "$pair" -eq 0 ]; then
            "$cli" join --yes --prefix "$scratch/inplace/joined" "$scratch/inplace/big.000" \
                </dev/null >/dev/null 2>&1
            cmp -s "$scratch/big.bin" "$scratch/inplace/joined.bin" || {
                echo "in place: the joined file differs from the source" >&2
                exit 1
            }
            echo "  warm-up  $line"
            continue
        fi
        echo "  pair $pair/$pairs $line"
        inPlaceRatios+=" $(awk -v a="${ns[inplace]}" -v b="${ns[plain]}" \
            'BEGIN { printf "%.4f", a / b }')"
    done
    echo "  split --in-place / split --delete-source: $(spread "$inPlaceRatios")   (target <= 1.1)"
    rm -rf "$scratch"
}
if [ "${TOLVAR_BENCH_ONLY:-}" = in-place ]; then
    echo "Load at the start: $(uptime)"
    benchJoinInPlace "${TOLVAR_BENCH_DIR:-/var/tmp}"
    benchSplitInPlace "${TOLVAR_BENCH_DIR:-/var/tmp}"
    exit 0
fi

echo "Load at the start: $(uptime)"
summary=()
benchIn "${TOLVAR_BENCH_DIR:-/var/tmp}"
if [ -z "$tmpfsDir" ]; then
    echo "tmpfs: skipped (TOLVAR_BENCH_TMPFS is empty)"
elif [ "$(df -T "$tmpfsDir" | awk 'NR == 2 { print $2 }')" != tmpfs ]; then
    echo "tmpfs: skipped ($tmpfsDir is no tmpfs)"
else
    benchIn "$tmpfsDir"
fi

# benchChecksums FOLDER: plain split, split --checksums and split --checksums --recovery 2 in
# rotating order with a cold write-back, and verify of the checksummed set each time.
benchChecksums() {
    scratch=$(newScratch "$1")
    echo
    echo "== checksums: split, split --checksums, split --recovery 2, then verify (cold write-back)"
    head -c 1G /dev/urandom >"$scratch/big.bin"
    syncFirst=true
    local pair who splitRatios="" recoveryRatios="" verifyRates="" dgstRatios="" line
    for ((pair = 0; pair <= pairs; pair++)); do
        order=(engine checksums recovery)
        order=("${order[@]:pair % 3}" "${order[@]:0:pair % 3}")
        line=""
        for who in "${order[@]}"; do
            splitWith "$who" "$scratch/big.bin" 102400
            note "$who.split"
            line+=" $who $(seconds "$lastNs")"
        done
        # One SHA-256 of the source on one core: what a checksummed split cannot go below by
        # much, since it hashes every byte twice (its part's digest and the whole file's).
        timeRun /dev/null openssl dgst -sha256 "$scratch/big.bin"
        note dgst
        line+="  openssl $(seconds "$lastNs")"
        if [ -n "$cli" ]; then
            timeRun /dev/null "$cli" verify "$scratch/checksums/part.000"
            line+="  verify $(seconds "$lastNs")"
            # 1 GiB of payload and 11 headers of 16 bytes, in GB/s.
            [ "$pair" -gt 0 ] && verifyRates+=" $(awk -v ns="$lastNs"                 'BEGIN { printf "%.4f", (1073741824 + 11 * 16) / ns }')"
        fi
        if [ "$pair" -eq 0 ]; then
            echo "  warm-up  $line"
            continue
        fi
        echo "  pair $pair/$pairs $line"
        recoveryRatios+=" $(awk -v a="${ns[recovery.split]}" -v b="${ns[checksums.split]}" \
            'BEGIN { printf "%.4f", a / b }')"
        dgstRatios+=" $(awk -v a="${ns[checksums.split]}" -v b="${ns[dgst]}" \
            'BEGIN { printf "%.4f", a / b }')"
        splitRatios+=" $(awk -v a="${ns[checksums.split]}" -v b="${ns[engine.split]}"             'BEGIN { printf "%.4f", a / b }')"
    done
    echo "  split --checksums / split: $(spread "$splitRatios")   (target <= 3.0)"
    echo "  split --checksums / openssl dgst -sha256 of the source: $(spread "$dgstRatios")"
    echo "  split --recovery 2 / split --checksums: $(spread "$recoveryRatios")   (target <= 2.0)"
    [ -n "$verifyRates" ] && echo "  verify, GB/s: $(spread "$verifyRates")   (target >= 1.0)"
    rm -rf "$scratch"
}
benchChecksums "${TOLVAR_BENCH_DIR:-/var/tmp}"
benchJoinInPlace "${TOLVAR_BENCH_DIR:-/var/tmp}"
benchSplitInPlace "${TOLVAR_BENCH_DIR:-/var/tmp}"

# Peak RSS: the engine alone, at 16 MiB (1 MiB parts, 17 of them) and at 1 GiB (above).
scratch=$(newScratch "${TOLVAR_BENCH_DIR:-/var/tmp}")
head -c 16M /dev/urandom >"$scratch/small.bin"
splitWith engine "$scratch/small.bin" 1024
note small.split
joinWith engine
checkOutputs engine "$scratch/small.bin" 17
note small.join
rm -rf "$scratch"
echo "Load at the end: $(uptime)"

echo
echo "Summary: 1 GiB source, 100 MiB parts, $pairs pairs each, $(nproc) cores." \
    "Ratio = our time / coreutils' time (split -b, cat), median (min to max); 0.80 or less is" \
    "1.25 times as fast."
printf '%-58s | %-32s | %s\n' "" split join
for row in "${summary[@]}"; do
    IFS='|' read -r label splitRatio joinRatio <<<"$row"
    printf '%-58s | %-32s | %s\n' "$label" "$splitRatio" "$joinRatio"
done
printf 'engine peak RSS, split: %s KiB at 16 MiB, %s KiB at 1 GiB   (target: the same)\n' \
    "${peakKb[small.split]}" "${peakKb[engine.split]}"
printf 'engine peak RSS, join:  %s KiB at 16 MiB, %s KiB at 1 GiB   (target: the same)\n' \
    "${peakKb[small.join]}" "${peakKb[engine.join]}"
