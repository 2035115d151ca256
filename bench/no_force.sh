#!/bin/sh
# What --no-force saves: on a simulated card that answers like flash
# (machine init --realistic-timing) and already holds the sample release,
# the wall time of `update --no-force` against a forced update of the same
# release, in the same run. --no-force reads each piece and writes none;
# the forced update erases each sector it touches and programs every piece.
# Goal: --no-force at least 5 times faster. Prints the median of RUNS runs
# of each (3 by default) and the ratio.
#   bench/no_force.sh BUILD_DIR [RUNS]
set -eu
build=${1:-build}
runs=${2:-3}
cli="$build/cli/varnel-cli"
oem="$(dirname "$0")/../examples/release/OEMRelease.oem"
. "$(dirname "$0")/lib.sh"
machine="$work/machine"
"$cli" --machine "$machine" machine init --realistic-timing >/dev/null
# The card takes the release first: from here on both updates find it there.
"$cli" --machine "$machine" update --yes --oem "$oem" >/dev/null 2>&1

# The median wall time of RUNS updates with these options, in milliseconds;
# an update that fails ends the bench.
update_ms() {
    i=0
    while [ "$i" -lt "$runs" ]; do
        BENCH_OUTPUT="$work/out" time_of ms "$cli" --machine "$machine" update --yes "$@" --oem "$oem" ||
            { cat "$work/out" >&2; echo "bench/no_force.sh: the update failed" >&2; exit 1; }
        i=$((i + 1))
    done | median
}

forced=$(update_ms)
noforce=$(update_ms --no-force)
awk -v forced="$forced" -v noforce="$noforce" -v runs="$runs" 'BEGIN {
    ratio = forced / (noforce > 0 ? noforce : 1)
    printf "update of the sample release onto a card that holds it (realistic timing, median of %d):\n", runs
    printf "  forced:      %6d ms\n", forced
    printf "  --no-force:  %6d ms\n", noforce
    printf "  --no-force is %.1fx faster (goal: at least 5x): %s\n", ratio, (ratio >= 5 ? "met" : "MISSED")
}'
