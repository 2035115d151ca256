#!/bin/sh
# What the firmware backup costs: the sample release's update on the
# simulated machine with the backup on and off, RUNS times each, alternating
# in one run; prints the median times, their ratio (goal: at most 1.15) and
# the requests of each from the trace (goal: one Aux read more per piece
# written, no more). Also --no-force with the backup on and off: the compare
# takes the backup's read, so the reads are the same.
#   bench/firmware_backup.sh BUILD_DIR [RUNS]
# The machine is made with `machine init --realistic-timing`: the card
# charges reads, programming and sector erases as flash does.
set -eu
build=${1:-build}
runs=${2:-5}
TIMING=--realistic-timing
cli="$build/cli/varnel-cli"
release="$(dirname "$0")/../examples/release/OEMRelease.oem"
. "$(dirname "$0")/lib.sh"

# update NAME OPTIONS...: one update on a fresh card; prints its time in ms.
update() {
    name=$1
    shift
    rm -rf "$work/machine" "$work/$name.jsonl"
    "$cli" --machine "$work/machine" machine init $TIMING >/dev/null
    time_of ms "$cli" --machine "$work/machine" --trace "$work/$name.jsonl" update --yes "$@" --oem "$release"
}
# count NAME OID: the requests of that OID in the last trace of NAME.
count() { grep -c "\"oid\":$2," "$work/$1.jsonl" || true; }
READ=4278256006   # 0xFF010186, Aux read
WRITE=4278256012  # 0xFF01018C, Aux write

i=0
: >"$work/on.times"
: >"$work/off.times"
while [ "$i" -lt "$runs" ]; do
    update off --no-firmware-backup >>"$work/off.times"
    update on >>"$work/on.times"
    i=$((i + 1))
done
off=$(median <"$work/off.times")
on=$(median <"$work/on.times")
echo "update of the sample release ($TIMING), median of $runs:"
echo "  firmware backup off: ${off} ms"
echo "  firmware backup on:  ${on} ms"
awk -v on="$on" -v off="$off" 'BEGIN { printf "  ratio on/off: %.2fx (goal <= 1.15x)\n", on / off }'
reads_off=$(count off $READ)
reads_on=$(count on $READ)
# The firmware's pieces: the Aux writes but the PDA's (at 0x7F0000).
pieces=$(grep "\"oid\":$WRITE," "$work/on.jsonl" | grep -vc '"address":8323072,' || true)
echo "  requests: $pieces firmware pieces written; Aux reads $reads_off without the backup, $reads_on with it" \
     "(+$((reads_on - reads_off)), goal +$pieces)"
update nf-off --no-force --no-firmware-backup >/dev/null
update nf-on --no-force >/dev/null
echo "  --no-force: Aux reads $(count nf-off $READ) without the backup, $(count nf-on $READ) with it" \
     "(the compare takes the backup's read)"
