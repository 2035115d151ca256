#!/bin/sh
# Start-up time: from process start to the main window shown, beside two
# yardsticks measured the same way in the same run: an empty Qt Widgets
# program that shows one window (bench/empty_window.cpp), and a plain Qt
# Widgets program that shows the main window's controls, texts, fonts and
# menus and nothing else (bench/same_controls.cpp), the floor for a window
# of this content; and `varnel-cli adapters`. On an X
# server (make bench runs this under scripts/with-wm.sh: Xvfb and openbox)
# the windows are real; without one, offscreen. Prints the median of RUNS
# runs of each, in milliseconds, and varnel's time as a multiple of each
# yardstick's.
#   bench/startup.sh BUILD_DIR [RUNS]
set -eu
build=${1:-build}
runs=${2:-21}
. "$(dirname "$0")/lib.sh"
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
if [ -n "${DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=xcb
    where="under X ($DISPLAY)"
else
    export QT_QPA_PLATFORM=offscreen
    where="offscreen"
fi
machine="$work/machine"
"$build/cli/varnel-cli" --machine "$machine" machine init >/dev/null

# Microseconds, so that the ratio of two short times keeps its digits.
time_us() {
    i=0
    while [ "$i" -lt "$runs" ]; do
        time_of us "$@" || true
        i=$((i + 1))
    done | median
}

# Each program once first, so that both start from warm caches.
"$build/bench/empty_window" >/dev/null 2>&1
"$build/bench/same_controls" >/dev/null 2>&1
VARNEL_QUIT_WHEN_SHOWN=1 "$build/ui/qt/varnel" --machine "$machine" >/dev/null 2>&1
empty=$(time_us "$build/bench/empty_window")
same=$(time_us "$build/bench/same_controls")
gui=$(VARNEL_QUIT_WHEN_SHOWN=1 time_us "$build/ui/qt/varnel" --machine "$machine")
cli=$(time_us "$build/cli/varnel-cli" --machine "$machine" adapters)
ms() { awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'; }
echo "start-up $where, median of $runs runs:"
echo "  varnel, start to main window shown:    $(ms "$gui") ms"
echo "  empty Qt Widgets program, one window:  $(ms "$empty") ms"
echo "  Qt Widgets program, the same controls: $(ms "$same") ms"
echo "  varnel-cli adapters:                    $(ms "$cli") ms"
awk -v g="$gui" -v e="$empty" 'BEGIN { printf "varnel / empty program: %.2fx (goal: at most 1.2x)\n", g / e }'
awk -v g="$gui" -v s="$same" 'BEGIN { printf "varnel / same-controls program: %.2fx (goal: at most 1.05x)\n", g / s }'
