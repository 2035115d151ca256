#!/bin/sh
# varnel-cli's outputs, byte for byte: runs every invocation of
# tests/cli/outputs/cases.txt on a fresh simulated machine and compares what
# each printed (stdout, stderr) and its exit status with
# tests/cli/outputs/record.txt. A change that alters any of them fails here,
# with the difference shown; when the change is meant, record again:
#
#     tests/cli/compare_outputs.sh build/cli/varnel-cli --record
#
# The work directory's path and the times of day in file names and lines are
# written as <T> and <TIME> in the record, so that it holds on any machine on
# any day.
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 VARNEL_CLI [--record]" >&2
    exit 2
fi
cli=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
cases=$here/outputs/cases.txt
record=$here/outputs/record.txt

T=$(mktemp -d "${TMPDIR:-/tmp}/varnel-outputs.XXXXXX")
trap 'rm -rf "$T"' EXIT
R=$T/release
cp -R "$source_dir/examples/release" "$R"
mkdir "$T/bin"
ln -s "$cli" "$T/bin/varnel-cli"

# A firmware backup holds the time it was taken: its SHA-256 is <SHA256>.
# Times: 20261211T075115Z (file names, with the -2 of a second file in the
# same second), 20261211T075115.123456Z-1 (history ids), 2026-12-11T07:51:15Z
# and 2026-12-11 07:51:15.
normalise() {
    backup_sha256=$(sha256sum "$T/first-backup.srec" | cut -d' ' -f1)
    sed -E -e "s|$T|<T>|g" \
        -e 's/[0-9]{8}T[0-9]{6}(\.[0-9]+)?Z(-[0-9]+)?/<TIME>/g' \
        -e 's/[0-9]{4}-[0-9]{2}-[0-9]{2}[T ][0-9]{2}:[0-9]{2}(:[0-9]{2})?Z?/<TIME>/g' \
        -e "s/$backup_sha256/<SHA256>/g"
}

run_cases() {
    (
        cd "$T"
        export PATH="$T/bin:$PATH" VARNEL_MACHINE="$T/machine" XDG_STATE_HOME="$T/state" T R
        unset VARNEL_TRACE VARNEL_RELEASE
        export LC_ALL=C TZ=UTC COLUMNS=80
        while IFS= read -r line; do
            case $line in
            '' | '#'*) continue ;;
            esac
            status=0
            sh -c "${line#! }" >"$T/stdout" 2>"$T/stderr" </dev/null || status=$?
            printf '$ %s\n' "$line"
            printf -- '-- exit %s\n' "$status"
            if [ -s "$T/stdout" ]; then
                printf -- '-- stdout\n'
                cat "$T/stdout"
                printf '\n-- end\n'
            fi
            if [ -s "$T/stderr" ]; then
                printf -- '-- stderr\n'
                cat "$T/stderr"
                printf '\n-- end\n'
            fi
        done <"$cases"
    ) >"$T/raw.txt"
    normalise <"$T/raw.txt"
}

if [ "${2:-}" = --record ]; then
    run_cases >"$record"
    echo "recorded $(grep -c '^\$ varnel-cli' "$record") invocations in $record"
    exit 0
elif [ $# -eq 2 ]; then
    echo "usage: $0 VARNEL_CLI [--record]" >&2
    exit 2
fi

run_cases >"$T/outputs.txt"
if ! diff -u "$record" "$T/outputs.txt"; then
    echo "varnel-cli's outputs differ from $record (lines with + are today's)" >&2
    exit 1
fi
echo "$(grep -c '^\$ varnel-cli' "$record") invocations print what the record holds"
