#!/bin/sh
# The Windows program's pictures for docs/windows.md: varnel.exe's windows
# under wine on a virtual X server (Xvfb), in a wine virtual desktop so that
# wine draws the frames as Windows does. The test program opens the windows
# and takes them in-process (tests/windows/gui_test.cpp, "screenshots").
#   scripts/windows-screenshots.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR OUT_DIR
set -eu
if [ "${VARNEL_IN_XVFB:-}" != 1 ]; then
    command -v xvfb-run >/dev/null 2>&1 || { echo "windows-screenshots.sh: xvfb-run is missing (scripts/bootstrap.sh test installs it)" >&2; exit 77; }
    export VARNEL_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96 -nolisten tcp" "$0" "$@"
fi
WIN_BUILD=$(realpath "$1")
LINUX_BUILD=$(realpath "$2")
OUT=$(realpath "$3")
SOURCE=$(realpath "$(dirname "$0")/..")
WORK=$WIN_BUILD/wine-shots-work
WINE_PROGRAM="$WIN_BUILD/tests/windows/varnel-gui-test.exe"
. "$SOURCE/tests/windows/wine_env.sh"
export WINEPREFIX="$WIN_BUILD/wine-shots"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8
unset VARNEL_MACHINE VARNEL_TRACE

# shellcheck disable=SC1003 # tr's '\\' is one backslash
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

# A prefix of its own (the tests' prefix has no graphics driver): wine's
# fonts, and one virtual desktop for every window.
if [ ! -f "$WINEPREFIX/.varnel-ready-$WINE_BITS" ]; then
    rm -rf "$WINEPREFIX"
    "$WINE" wineboot -u >/dev/null 2>&1 </dev/null
    "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1 </dev/null
    "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768 /f >/dev/null 2>&1 </dev/null
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
    wineserver -w
    touch "$WINEPREFIX/.varnel-ready-$WINE_BITS"
fi

rm -rf "$WORK"
mkdir -p "$WORK"
"$LINUX_BUILD/cli/varnel-cli" --machine "$WORK/machine" machine init >/dev/null
# The release where the installer's Firmware folder is, as a user keeps it.
FIRMWARE="$WINEPREFIX/drive_c/Program Files/Varnel/Firmware"
rm -rf "$WINEPREFIX/drive_c/users/"*/AppData/Local/Varnel
mkdir -p "$FIRMWARE"
cp "$SOURCE/examples/release/"* "$FIRMWARE/"
status=0
: | "$WINE" "$WIN_BUILD/tests/windows/varnel-gui-test.exe" screenshots "$(winpath "$WORK/machine")" "$(winpath "$WORK")" \
    'C:\Program Files\Varnel\Firmware\primary.hex' 'C:\Program Files\Varnel\Firmware\station.hex' \
    'C:\Program Files\Varnel\Firmware\changes.pda' |
    tr -d '\r' || status=$?
wineserver -k 2>/dev/null || true
for name in windows-main-window windows-warning windows-update-information windows-wait-window; do
    [ -s "$WORK/$name.png" ] || { echo "windows-screenshots.sh: $name.png was not taken" >&2; exit 1; }
    cp "$WORK/$name.png" "$OUT/$name.png"
done
exit "$status"
