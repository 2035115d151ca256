#!/bin/sh
# Runs each fuzzer: fuzz/run.sh BUILD_DIR SECONDS. With SECONDS 0 each runs
# its seed corpus only. New inputs go to BUILD_DIR/corpus/NAME; crashes to
# BUILD_DIR/crashes/.
set -eu
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
mkdir -p "$build/crashes"

for name in srec pda_text pda_words oem_link; do
    corpus="$build/corpus/$name"
    mkdir -p "$corpus"
    cp "$here/seeds/$name"/* "$corpus/" 2>/dev/null || true
    # The sample release seeds the file parsers too.
    case $name in
        srec) cp "$root"/examples/release/*.hex "$corpus/" ;;
        pda_text) cp "$root"/examples/release/*.pda "$corpus/" ;;
        oem_link) cp "$root"/examples/release/*.oem "$corpus/" ;;
    esac
    log="$build/fuzz-$name.log"
    if [ "$seconds" -eq 0 ]; then
        set -- -runs=0
    else
        echo "== fuzz_$name for ${seconds}s"
        set -- -max_total_time="$seconds" -max_len=8192 -print_final_stats=1
    fi
    if ! "$build/fuzz/fuzz_$name" "$@" -artifact_prefix="$build/crashes/$name-" "$corpus" >"$log" 2>&1; then
        cat "$log"
        echo "fuzz_$name found a fault; the input is in $build/crashes/" >&2
        exit 1
    fi
    grep -E '^(#[0-9]+ *DONE|stat::number_of_executed_units|stat::new_units_added|Done)' "$log" || true
done
