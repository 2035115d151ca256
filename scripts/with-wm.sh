#!/bin/sh
# Runs a command on a virtual X server (Xvfb) with a window manager
# (openbox, its packaged settings), so that windows get real frames, title
# bars and focus:
#   scripts/with-wm.sh COMMAND [ARG...]
# The command's exit status is this script's; 77 (a skipped test to ctest)
# when xvfb-run, openbox or xprop is missing (scripts/bootstrap.sh test
# installs them, with xauth and xdotool).
set -eu
if [ "${VARNEL_IN_WM:-}" != 1 ]; then
    for tool in xvfb-run openbox xprop; do
        command -v "$tool" >/dev/null 2>&1 || { echo "with-wm.sh: $tool is missing (scripts/bootstrap.sh test installs it)" >&2; exit 77; }
    done
    export VARNEL_IN_WM=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96 -nolisten tcp" "$0" "$@"
fi

# The virtual server has no session bus. Say so, rather than let Qt's
# D-Bus code try to start one: libdbus leaks a buffer on that failing path,
# which LeakSanitizer reports against the program under test.
export DBUS_SESSION_BUS_ADDRESS=disabled:

# On the server: the window manager first, and the command once it manages.
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
i=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    i=$((i + 1))
    if [ "$i" -gt 100 ]; then
        echo "with-wm.sh: openbox did not start" >&2
        kill "$wm" 2>/dev/null || true
        exit 2
    fi
    sleep 0.05
done
status=0
"$@" || status=$?
kill "$wm" 2>/dev/null || true
wait "$wm" 2>/dev/null || true
exit "$status"
