#!/usr/bin/env bash
# Times the engine against coreutils on a 1 GiB file in one run: split by size into 100 MiB
# parts against `split -b 100M`, and assembly against `cat` of the parts into one file; then
# the same through tolvar-split as a user would type it, and the engine with a listening
# progress observer. Prints the ratios (coreutils time / ours: 1.0 or more means at least as
# fast as coreutils) and the engine's peak RSS at 64 MiB and at 1 GiB.
#
# usage: bench/run.sh [BUILD_DIR]     (default build/release, configured and built as needed)
# TOLVAR_BENCH_DIR     folder in which the scratch folder is made (default /var/tmp); it needs
#                      about 3 GiB free
# TOLVAR_BENCH_ROUNDS  rounds of alternating runs, the best of which counts (default 3)
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

buildDir=$(realpath -m "${1:-$releaseDir}")
rounds=${TOLVAR_BENCH_ROUNDS:-3}

ensurePackages "${buildPackages[@]}" time
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

scratch=$(mktemp -d "${TOLVAR_BENCH_DIR:-/var/tmp}/tolvar-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# timeRun OUT COMMAND...: runs COMMAND with its standard output in OUT, once earlier writes
# are on disk so that no write-back of a previous run lands in this one. Sets lastNs (wall
# clock) and lastKb (peak resident set).
timeRun() {
    local out=$1 start end
    shift
    sync
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

declare -A bestNs allNs peakKb
# keep KEY: remembers every time, the fastest time and the largest peak RSS of KEY.
keep() {
    allNs[$1]="${allNs[$1]:-} $lastNs"
    awk -v key="$1" -v ns="$lastNs" -v kb="$lastKb" \
        'BEGIN { printf "    %-16s %7.3f s %7d KiB\n", key, ns / 1e9, kb }'
    if [ -z "${bestNs[$1]:-}" ] || [ "$lastNs" -lt "${bestNs[$1]}" ]; then
        bestNs[$1]=$lastNs
    fi
    if [ -z "${peakKb[$1]:-}" ] || [ "$lastKb" -gt "${peakKb[$1]}" ]; then
        peakKb[$1]=$lastKb
    fi
}

# splitWith WHO SOURCE PARTS_KB and joinWith WHO SOURCE: one timed split or assembly into
# WHO's own folder. The assembled file is named joined.bin for every contender.
splitWith() {
    local who=$1 source=$2 kb=$3 dir=$scratch/$1
    mkdir -p "$dir"
    case $who in
    coreutils) timeRun /dev/null split -b "${kb}K" "$source" "$dir/part." ;;
    engine) timeRun /dev/null "$bench" split-size "$source" "$kb" "$dir/part." ;;
    observed) timeRun /dev/null "$bench" --observe split-size "$source" "$kb" "$dir/part." ;;
    cli) timeRun /dev/null "$cli" split --size "${kb}K" "$source" --yes --prefix "$dir/part" \
        </dev/null ;;
    esac
}

joinWith() {
    local who=$1 dir=$scratch/$1
    case $who in
    coreutils) timeRun "$dir/joined.bin" cat "$dir"/part.* ;;
    engine) timeRun /dev/null "$bench" assemble "$dir/part.000" "$dir/joined." ;;
    observed) timeRun /dev/null "$bench" --observe assemble "$dir/part.000" "$dir/joined." ;;
    cli) timeRun /dev/null "$cli" join "$dir/part.000" --yes --prefix "$dir/joined" </dev/null ;;
    esac
}

# Each contender's parts hold the source; the engine's carry one 16-byte header more each.
checkOutputs() {
    local who=$1 source=$2 parts
    cmp -s "$source" "$scratch/$who/joined.bin" || {
        echo "$who: the assembled file differs from the source" >&2
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

echo "Creating a 1 GiB and a 64 MiB file of random bytes in $scratch"
head -c 1G /dev/urandom >"$scratch/big.bin"
head -c 64M /dev/urandom >"$scratch/small.bin"
cat "$scratch/big.bin" "$scratch/small.bin" >/dev/null

# Small file: 10 MiB parts (7 of them), for the engine's memory at a size sixteen times smaller.
splitWith engine "$scratch/small.bin" 10240
keep small.split
joinWith engine
checkOutputs engine "$scratch/small.bin" 7
keep small.join
rm -rf "${scratch:?}/engine"

for ((round = 0; round < rounds; round++)); do
    # Rotate who goes first, so no contender always runs on a cache the previous one warmed.
    first=$((round % ${#contenders[@]}))
    order=("${contenders[@]:first}" "${contenders[@]:0:first}")
    echo "Round $((round + 1)) of $rounds: ${order[*]}"
    # Each contender assembles its parts right after making them and then removes them, so
    # no run has to read parts that a previous one pushed out of the page cache.
    for who in "${order[@]}"; do
        splitWith "$who" "$scratch/big.bin" 102400
        keep "$who.split"
        joinWith "$who"
        keep "$who.join"
        [ "$round" -eq 0 ] && checkOutputs "$who" "$scratch/big.bin" 11
        rm -rf "${scratch:?}/$who"
    done
done

seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
median() {
    tr ' ' '\n' <<<"${allNs[$1]}" | grep . | sort -n |
        awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo
fileSystem=$(df -T "$scratch" | awk 'NR == 2 { print $2 }')
echo "1 GiB source, 100 MiB parts, $rounds rounds; $fileSystem file system, $(nproc) cores"
echo "Times in seconds, best of the rounds (median in brackets); ratios from the best times."
printf '%-34s %-16s %-16s %s\n' "" split assemble "peak RSS split / assemble"
row() {
    printf '%-34s %-16s %-16s %s KiB / %s KiB\n' "$1" \
        "$(seconds "${bestNs[$2.split]}") ($(seconds "$(median "$2.split")"))" \
        "$(seconds "${bestNs[$2.join]}") ($(seconds "$(median "$2.join")"))" \
        "${peakKb[$2.split]}" "${peakKb[$2.join]}"
}
row "coreutils (split -b 100M, cat)" coreutils
row "engine (tolvar-bench)" engine
row "engine with a progress observer" observed
[ -n "$cli" ] && row "tolvar-split" cli
echo
printf 'ratio coreutils / engine:           split %s, assemble %s   (target >= 1.0)\n' \
    "$(ratio "${bestNs[coreutils.split]}" "${bestNs[engine.split]}")" \
    "$(ratio "${bestNs[coreutils.join]}" "${bestNs[engine.join]}")"
printf 'ratio coreutils / observed engine:  split %s, assemble %s\n' \
    "$(ratio "${bestNs[coreutils.split]}" "${bestNs[observed.split]}")" \
    "$(ratio "${bestNs[coreutils.join]}" "${bestNs[observed.join]}")"
if [ -n "$cli" ]; then
    printf 'ratio coreutils / tolvar-split:     split %s, assemble %s   (target >= 1.0)\n' \
        "$(ratio "${bestNs[coreutils.split]}" "${bestNs[cli.split]}")" \
        "$(ratio "${bestNs[coreutils.join]}" "${bestNs[cli.join]}")"
else
    echo "tolvar-split: not built in $buildDir, skipped"
fi
printf 'engine peak RSS, split:    %s KiB at 64 MiB, %s KiB at 1 GiB   (target: the same)\n' \
    "${peakKb[small.split]}" "${peakKb[engine.split]}"
printf 'engine peak RSS, assemble: %s KiB at 64 MiB, %s KiB at 1 GiB   (target: the same)\n' \
    "${peakKb[small.join]}" "${peakKb[engine.join]}"
