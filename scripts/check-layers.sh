#!/bin/sh
# Checks that every include of the program's folders follows an allowed
# edge of the layer graph: a folder includes from itself and from the
# folders it depends on, never back up, and only the programs choose the
# machine (sim/ or backend_win32/). Tests (with their fixtures), benchmarks
# and fuzzers stand above them all and are not checked.
#
# check-layers.sh [ROOT]   ROOT: the source tree (default: this one)
set -eu
cd "${1:-$(dirname "$0")/..}"

# The folders, lowest first.
LAYERS="platform log pda image card sim backend_win32 update sample ui ui/qt ui/win32 cli tools"

# What each layer may include besides itself. A program (cli/, tools/, the
# desktop programs' main.cpp, the icon writer) may include from every layer.
depends_on() {
    case $1 in
    platform | log) echo "" ;;
    pda) echo "log platform" ;;
    image) echo "pda log platform" ;;
    card) echo "image pda log platform" ;;
    # The machine directory programs factory images and keeps PDA copies.
    sim) echo "image pda log platform" ;;
    backend_win32) echo "platform" ;;
    update) echo "card image pda log platform" ;;
    # The sample release and the default simulated machine, for programs.
    sample) echo "sim update card image pda log platform" ;;
    ui) echo "update card image pda log platform" ;;
    ui/qt | ui/win32) echo "ui update card image pda log platform" ;;
    program) echo "$LAYERS" ;;
    esac
}

layer_of() {
    case $1 in
    ui/qt/main.cpp | ui/qt/win32_icons.cpp | ui/win32/main.cpp | cli/* | tools/*) echo program ;;
    *) echo "${1%/*}" ;;
    esac
}

# Every source file below the layers' top folders; one in a folder the
# graph does not name (a new front end, say) fails until it is placed.
tops=$(for dir in $LAYERS; do echo "${dir%%/*}"; done | sort -u)
violations=$(
    # shellcheck disable=SC2086
    find $tops \( -name '*.cpp' -o -name '*.h' \) | sort | while read -r f; do
        layer=$(layer_of "$f")
        case " $LAYERS program " in
        *" $layer "*) ;;
        *) echo "$f is in no layer ($layer)"; continue ;;
        esac
        allowed=" $layer ${f%/*} $(depends_on "$layer") "
        sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$f" | while read -r inc; do
            case $allowed in
            *" ${inc%/*} "*) ;;
            *) echo "$f includes $inc: $layer may not depend on ${inc%/*}" ;;
            esac
        done
    done
)
if [ -n "$violations" ]; then
    echo "$violations"
    exit 1
fi
echo "layers: every include follows an allowed edge"
