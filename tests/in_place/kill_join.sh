#!/bin/sh
# Kills `tolvar-split join --in-place` with SIGKILL at random moments, runs the same command
# again after each kill (repeatedly, killing again at random, until one run finishes), and
# compares the rebuilt file with the original byte for byte. Prints the counts at the end.
#
#   tests/in_place/kill_join.sh TOLVAR_SPLIT [ROUNDS] [SIZE_MB] [PART_SIZE]
#
# Every kill lands at a random moment within the first MAX_DELAY_MS milliseconds of a run;
# kills that came after the run had already ended are counted apart.
set -eu
program=$1
rounds=${2:-10}
sizeMb=${3:-40}
partSize=${4:-2M}
maxDelayMs=${MAX_DELAY_MS:-400}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_STATE_HOME="$work/state"
dir="$work/set"
mkdir -p "$dir"
head -c "$((sizeMb * 1024 * 1024))" /dev/urandom >"$work/original"

kills=0
lateKills=0
runs=0
for round in $(seq 1 "$rounds"); do
    rm -rf "$dir" "$XDG_STATE_HOME"
    mkdir -p "$dir"
    cp "$work/original" "$dir/movie.avi"
    "$program" split --size "$partSize" --checksums --recovery 1 --yes --delete-source \
        "$dir/movie.avi" 2>/dev/null
    while :; do
        # Killed after its last step: the file is whole and nothing is left to pick up.
        if [ ! -e "$dir/movie.000" ] && [ -z "$(ls -A "$XDG_STATE_HOME"/tolvar-files-splitter)" ]; then
            break
        fi
        runs=$((runs + 1))
        "$program" join --in-place --yes "$dir/movie.000" >/dev/null 2>"$work/err" &
        pid=$!
        delay=$(awk -v seed="$(od -An -N4 -tu4 /dev/urandom)" -v max="$maxDelayMs" \
            'BEGIN { srand(seed); printf "%.3f", rand() * max / 1000 }')
        sleep "$delay"
        kill -9 "$pid" 2>/dev/null || true
        status=0
        wait "$pid" 2>/dev/null || status=$?
        if [ "$status" -eq 137 ]; then
            kills=$((kills + 1))
            continue
        fi
        if [ "$status" -eq 0 ]; then
            lateKills=$((lateKills + 1))
            break
        fi
        # Ended on its own without success before the kill: that is a fault.
        echo "round $round: the join failed on its own:" >&2
        cat "$work/err" >&2
        exit 1
    done
    if ! cmp -s "$work/original" "$dir/movie.avi"; then
        echo "round $round: the rebuilt file differs from the original" >&2
        exit 1
    fi
    left=$(ls -A "$dir" | grep -v '^movie.avi$' || true)
    if [ -n "$left" ]; then
        echo "round $round: files left beside the rebuilt file: $left" >&2
        exit 1
    fi
done
echo "rounds: $rounds, runs: $runs, SIGKILLs during a run: $kills, late kills: $lateKills," \
    "rebuilt byte for byte: $rounds of $rounds"
