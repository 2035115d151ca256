#!/bin/sh
# Checks that no include runs back up the layers: each folder of the
# program may include only from itself and from the folders before it in
# LAYERS. Tests, benchmarks and fuzzers sit above them all.
set -eu
cd "$(dirname "$0")/.."

LAYERS="platform log pda image card sim win32 update sample ui cli ui/qt tools"

violations=$(
    allowed=""
    for layer in $LAYERS; do
        allowed="$allowed $layer"
        # The layer's own files, not those of a layer nested in it.
        for f in $(find "$layer" -maxdepth 1 \( -name '*.cpp' -o -name '*.h' \)); do
            sed -n 's/^#include "\(.*\)"$/\1/p' "$f" | while read -r inc; do
                case " $allowed " in
                *" $(dirname "$inc") "*) ;;
                *) echo "$f includes $inc, from a layer that is not below $layer" ;;
                esac
            done
        done
    done
)
if [ -n "$violations" ]; then
    echo "$violations"
    exit 1
fi
echo "layers: every include runs down ($LAYERS)"
