#!/bin/sh
# Start-up time: from process start to the main window shown (offscreen),
# against the default machine, beside `varnel-cli adapters` measured the
# same way. Prints the median of RUNS runs of each, in milliseconds.
#   bench/startup.sh BUILD_DIR [RUNS]
set -eu
build=${1:-build}
runs=${2:-21}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime" XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=offscreen
machine="$work/machine"
"$build/cli/varnel-cli" --machine "$machine" machine init >/dev/null

median() {
    sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

time_ms() {
    i=0
    while [ "$i" -lt "$runs" ]; do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        echo $(( (end - start) / 1000000 ))
        i=$((i + 1))
    done | median
}

gui=$(VARNEL_QUIT_WHEN_SHOWN=1 time_ms "$build/ui/qt/varnel" --machine "$machine")
cli=$(time_ms "$build/cli/varnel-cli" --machine "$machine" adapters)
echo "varnel, start to main window shown: ${gui} ms (median of $runs)"
echo "varnel-cli adapters:                ${cli} ms (median of $runs)"
