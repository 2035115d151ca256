#!/bin/sh
# Reading a long update history: a history of RECORDS records (100000 by
# default), each a copy of a real update's record, then the time and the
# peak memory of `varnel-cli history` and `varnel-cli history --json` over
# it. The goal: under 1 s and under 50 MB each, memory not growing with the
# file (the records are read as a stream and printed as they are read).
#   bench/history.sh BUILD_DIR [RECORDS]
set -eu
build=${1:-build}
records=${2:-100000}
cli="$build/cli/varnel-cli"
. "$(dirname "$0")/lib.sh"
machine="$work/machine"
"$cli" --machine "$machine" machine init >/dev/null
"$cli" --machine "$machine" update --yes --oem "$(dirname "$0")/../examples/release/OEMRelease.oem" >/dev/null 2>&1
history="$XDG_STATE_HOME/varnel/history.jsonl"
# The run's own record, the last line (the first is its mark before its first write).
line=$(tail -n 1 "$history")
# Each copy with an id and a MAC address of its own. The line is cut once
# around the two and every copy printed from the pieces (sub() on every
# copy takes mawk time that grows with the square of the count).
printf '%s\n' "$line" | awk -v n="$records" '{
    match($0, /"id":"[^"]*"/); a = substr($0, 1, RSTART - 1); rest = substr($0, RSTART + RLENGTH)
    match(rest, /"mac":"[^"]*"/); b = substr(rest, 1, RSTART - 1); c = substr(rest, RSTART + RLENGTH)
    for (i = 0; i < n; i++)
        printf "%s\"id\":\"20261210T120000.%06dZ-1\"%s\"mac\":\"00-60-1D-%02X-%02X-%02X\"%s\n", a, i, b,
               int(i / 65536) % 256, int(i / 256) % 256, i % 256, c
}' >"$history.new"
mv "$history.new" "$history"
size=$(wc -c <"$history")

measure() {
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$cli" --machine "$machine" "$@" >"$work/out" 2>/dev/null
    read -r wall user system kb <"$work/time"
    printf 'varnel-cli %-15s %6s s wall, %5s s user+system, %4d MB peak, %s lines out\n' "$*" "$wall" \
        "$(echo "$user $system" | awk '{ printf "%.2f", $1 + $2 }')" $((kb / 1024)) "$(wc -l <"$work/out")"
}
echo "history of $records records, $((size / 1048576)) MB (goal: each under 1 s and under 50 MB)"
measure history
measure history --json
