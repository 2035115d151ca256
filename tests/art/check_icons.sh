#!/bin/sh
# The Windows program's icons are the ones the art gives today, as pictures:
# varnel-win32-icons draws them afresh and icon-compare finds them within
# two levels a channel of ui/win32/art (the drawing differs by a level from
# one CPU to another). The comparison itself is tried on planted copies of
# the art: a pixel moved by one level passes, a real change fails.
#   tests/art/check_icons.sh DRAWER ICON_COMPARE ART_FOLDER WORK_FOLDER
set -u
DRAWER=$1 COMPARE=$2 ART=$3 WORK=$4

passed=0
failed=0
check() {
    name=$1
    shift
    if "$@"; then passed=$((passed + 1)); echo "ok - $name"; else failed=$((failed + 1)); echo "not ok - $name"; fi
}
# fails COMMAND...: the comparison answers "different" (exit 1), saying why.
fails() {
    "$@" 2>"$WORK/why.txt"
    status=$?
    sed 's/^/  | /' "$WORK/why.txt"
    [ "$status" -eq 1 ]
}

rm -rf "$WORK" && mkdir -p "$WORK/drawn"
check "the icons drawn on this machine are the art's" sh -c '"$1" "$2" && "$3" "$2" "$4"' sh "$DRAWER" "$WORK/drawn" "$COMPARE" "$ART"

# plant DELTA: a copy of the art with the green of one pixel of varnel.ico's
# 32x32 image (not on its edge) moved by DELTA levels.
plant() {
    rm -rf "$WORK/planted" && cp -r "$ART" "$WORK/planted"
    file=$WORK/planted/varnel.ico
    # the 32x32 image's offset is in the second directory entry
    image=$(od -An -tu4 -j $((6 + 16 + 12)) -N4 "$file" | tr -d ' ')
    at=$((image + 40 + 4 * (16 * 32 + 16) + 1))
    old=$(od -An -tu1 -j "$at" -N1 "$file" | tr -d ' ')
    new=$(( (old + $1) % 256 ))
    # shellcheck disable=SC2059 # the format is the byte's octal escape
    printf "$(printf '\\%03o' "$new")" | dd of="$file" bs=1 seek="$at" conv=notrunc status=none
}
plant 1
check "a pixel one level off passes" "$COMPARE" "$ART" "$WORK/planted"
plant 40
check "a pixel 40 levels off fails" fails "$COMPARE" "$ART" "$WORK/planted"
rm -rf "$WORK/planted" && cp -r "$ART" "$WORK/planted" && rm "$WORK/planted/type4.ico"
check "an icon missing fails" fails "$COMPARE" "$ART" "$WORK/planted"
rm -rf "$WORK/planted" && cp -r "$ART" "$WORK/planted" && cp "$ART/type0.ico" "$WORK/planted/varnel.ico"
check "another picture of another size fails" fails "$COMPARE" "$ART" "$WORK/planted"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
