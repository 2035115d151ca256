#!/bin/sh
# The layer check on a temporary copy of the tree: it passes as the tree
# is, and fails, naming the file, on each include planted against the
# graph.
set -eu
source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

copy() {
    rm -rf "$work/tree"
    mkdir -p "$work/tree"
    (cd "$source" && tar cf - scripts platform log pda image card sim backend_win32 update sample ui cli tools) |
        (cd "$work/tree" && tar xf -)
}

copy
sh "$work/tree/scripts/check-layers.sh" >/dev/null || { echo "FAIL: the tree as it is does not pass"; exit 1; }

failures=0
# FILE LINE: planted at the end of FILE, the check must fail and name FILE.
while read -r file line; do
    copy
    mkdir -p "$work/tree/$(dirname "$file")"
    printf '%s\n' "$line" >>"$work/tree/$file"
    if out=$(sh "$work/tree/scripts/check-layers.sh" 2>&1); then
        echo "FAIL: passed with $file: $line"
        failures=$((failures + 1))
    elif ! printf '%s\n' "$out" | grep -q "^$file "; then
        echo "FAIL: $file: $line: the finding does not name the file: $out"
        failures=$((failures + 1))
    fi
done <<'CASES'
ui/varnel_dlg.cpp #include "sim/sim_machine.h"
ui/varnel_dlg.h #include "backend_win32/backend.h"
ui/qt/main_window.cpp #include "sim/machine_dir.h"
ui/qt/qt_host.h #include "sample/default_machine.h"
update/history.cpp #include "ui/varnel_dlg.h"
card/adapter.cpp #include "update/history.h"
image/firmware_file.cpp #include "card/adapter.h"
pda/pda.cpp #include "image/firmware_image.h"
platform/host.h #include "log/flash_log.h"
log/flash_log.cpp #include "pda/pda.h"
sim/sim_machine.cpp #include "card/adapter.h"
backend_win32/backend.cpp #include "sim/sim_machine.h"
sample/sample_release.cpp #include "ui/varnel_dlg.h"
image/srec_line.cpp   #  include "update/history.h"  // indented
ui/win32/main_window.cpp #include "backend_win32/backend.h"
ui/win32/dialogs.cpp #include "ui/qt/vector_art.h"
ui/gtk/main_window.cpp #include "ui/varnel_dlg.h"
CASES

[ "$failures" -eq 0 ] || exit 1
echo "layers: every planted back-arrow fails the check"
