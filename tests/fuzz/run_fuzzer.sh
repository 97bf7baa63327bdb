#!/bin/sh
# Runs one libFuzzer target for a bounded time on a writable copy of its seed corpus, so new
# inputs the fuzzer keeps never land in the source tree. Any finding fails the run; the input
# that caused it is copied to the build folder for replay.
# Usage: run_fuzzer.sh FUZZER SEED_DIR ARTIFACT_DIR SECONDS
set -eu
fuzzer=$1
seeds=$2
artifacts=$3
seconds=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvar-fuzz-run-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$seeds"/* "$work"/
mkdir -p "$artifacts"

# The scratch sets live on a memory file system when one is writable: the engine syncs what
# it writes before deleting parts, which would otherwise dominate the run.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    TMPDIR=/dev/shm
    export TMPDIR
fi

status=0
"$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$work" || status=$?
if [ "$status" -ne 0 ]; then
    echo "fuzzer $fuzzer failed with status $status; inputs kept in $artifacts" >&2
fi
exit "$status"
