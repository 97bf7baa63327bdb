#!/bin/bash
# Kills "split --in-place" with SIGKILL at random moments, runs the same command again (itself
# killed again at random, a few times in a row), then lets it finish, joins the set and
# compares it with the original byte for byte. Any loss fails the script.
#
#   tests/in_place/kills.sh TOLVAR_SPLIT [KILLS] [SIZE_MB] [FOLDER]
#
# Prints the counts at the end: kills, runs finished, sets joined whole.
set -u
tool=$(realpath "$1")
kills=${2:-60}
sizeMb=${3:-24}
folder=${4:-$(mktemp -d)}
export XDG_STATE_HOME="$folder/state"
work="$folder/work"
mkdir -p "$work"
cd "$work" || exit 1

command=("$tool" split --in-place --size 1M --recovery 1 --yes movie.avi)

newFile() {
    rm -rf -- "$work"/* "$work"/.tolvar-* "$XDG_STATE_HOME" 2>/dev/null
    head -c $((sizeMb * 1024 * 1024 + RANDOM)) /dev/urandom > movie.avi
    original=$(sha256sum < movie.avi)
}

# How long one whole run takes here, to spread the kills over it.
newFile
start=$(date +%s%N)
"${command[@]}" > /dev/null 2>&1
runMs=$(( ($(date +%s%N) - start) / 1000000 + 1 ))

killed=0 finished=0 whole=0 lost=0 noted=0
while ((killed < kills)); do
    newFile
    for ((round = 0; round < 1 + RANDOM % 4 && killed < kills; ++round)); do
        "${command[@]}" > /dev/null 2>&1 &
        pid=$!
        sleep "$(awk -v ms=$((RANDOM % (runMs + 5))) 'BEGIN { printf "%.3f", ms / 1000 }')"
        kill -9 "$pid" 2> /dev/null
        wait "$pid" 2> /dev/null
        # Exit status 137: the kill ended it (it had not finished on its own).
        [ $? -eq 137 ] && killed=$((killed + 1))
        # Any other command says an unfinished split is there while one is.
        if ls "$XDG_STATE_HOME"/tolvar-files-splitter/run-*.journal > /dev/null 2>&1 &&
            "$tool" info movie.avi 2>&1 | grep -q 'is unfinished'; then
            noted=$((noted + 1))
        fi
    done
    # A run the kill came too late for has finished: the file is gone, and no journal is left.
    if [ -e movie.avi ] || [ -n "$(ls -A "$XDG_STATE_HOME"/tolvar-files-splitter 2>/dev/null)" ] &&
        ! "${command[@]}" > /dev/null 2>&1; then
        echo "the same split again failed:" >&2
        "${command[@]}" >&2
        lost=$((lost + 1))
        continue
    fi
    finished=$((finished + 1))
    "$tool" join --yes --prefix joined movie.000 > /dev/null 2>&1
    if [ "$(sha256sum < joined.avi)" = "$original" ] && [ ! -e movie.avi ] &&
        [ -z "$(ls -A "$XDG_STATE_HOME"/tolvar-files-splitter 2>/dev/null)" ]; then
        whole=$((whole + 1))
    else
        lost=$((lost + 1))
        echo "not whole after a kill: $(ls -a)" >&2
    fi
done
echo "kills: $killed, finished after them: $finished, joined whole: $whole, lost: $lost," \
    "unfinished notes seen: $noted (one run: ${runMs} ms)"
[ "$lost" -eq 0 ]
