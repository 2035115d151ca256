# shellcheck shell=sh
# Shared by the bench scripts, which source it: . "$(dirname "$0")/lib.sh"

# A working folder of the bench's own, $work, removed when it ends; the
# programs keep their state (history, backups) there, not in the user's.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_STATE_HOME="$work/state"

# median: the median of the numbers on standard input, one a line.
median() {
    sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# time_of UNIT COMMAND [ARG...]: runs the command and prints its wall time
# in UNIT (ms or us). Its output goes to $BENCH_OUTPUT (default: nowhere).
# Returns the command's failure, printing nothing.
time_of() {
    case $1 in
    ms) per=1000000 ;;
    us) per=1000 ;;
    *) echo "time_of: unit $1?" >&2; return 2 ;;
    esac
    shift
    start=$(date +%s%N)
    "$@" >"${BENCH_OUTPUT:-/dev/null}" 2>&1 || return
    end=$(date +%s%N)
    echo $(((end - start) / per))
}
