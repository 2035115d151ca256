#!/bin/sh
# varnel-cli.exe under wine, through its real loading path: the simulated
# machine built as ZRW32N50.dll sits beside the program, the adapters' keys
# are in wine's registry, and the program is run without --machine.
#   tests/windows/run.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
# Compares with the Linux build's varnel-cli --machine on the same default
# machine: the same output, the same requests one by one, the same flash.
# Then the loading path's failures, one row each. Headless; a wine prefix of
# its own in WINDOWS_BUILD_DIR/wine-prefix.
set -u

WIN_BUILD=$(realpath "$1")
LINUX_BUILD=$(realpath "$2")
SOURCE=$(realpath "$(dirname "$0")/../..")
WORK=$WIN_BUILD/wine-test
LINUX_CLI=$LINUX_BUILD/cli/varnel-cli
EXE=$WIN_BUILD/cli/varnel-cli.exe
LIBRARY=$WIN_BUILD/tests/windows/sim-library/ZRW32N50.dll
INCOMPLETE=$WIN_BUILD/tests/windows/sim-library-incomplete/ZRW32N50.dll
OEM=$SOURCE/examples/release/OEMRelease.oem
GUI=$WIN_BUILD/ui/win32/varnel.exe
GUI_TEST=$WIN_BUILD/tests/windows/varnel-gui-test.exe
RUNTIME_TEST=$WIN_BUILD/tests/windows/varnel-runtime-compat-test.exe

WINE_PROGRAM="$EXE"
. "$SOURCE/tests/windows/wine_env.sh"
export WINEPREFIX="$WIN_BUILD/wine-prefix"
export WINEDEBUG=-all,err+module   # -all alone would hide a DLL that does not load
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer
export LANG=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY VARNEL_MACHINE VARNEL_TRACE VARNEL_SIM_LIBRARY_MACHINE

# shellcheck source=lib.sh
. "$SOURCE/tests/windows/lib.sh"
finish() {
    wineserver -k 2>/dev/null
    summary
    exit $?
}

# A Unix path as the Windows program sees it (wine's drive Z: is /).
# shellcheck disable=SC1003 # tr's '\\' is one backslash
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

# win NAME ARGS...: varnel-cli.exe from $BIN; NAME.out and NAME.err (CR LF
# made plain), NAME.rc.
win() {
    run=$1
    shift
    # stdin an empty pipe, never a terminal (wine would take a character
    # device such as /dev/null for one)
    : | "$WINE" "$BIN/varnel-cli.exe" "$@" >"$WORK/$run.out.raw" 2>"$WORK/$run.err.raw"
    echo $? >"$WORK/$run.rc"
    tr -d '\r' <"$WORK/$run.out.raw" >"$WORK/$run.out"
    tr -d '\r' <"$WORK/$run.err.raw" >"$WORK/$run.err"
}
# linux NAME ARGS...: the Linux build's varnel-cli, the same files.
linux() {
    run=$1
    shift
    XDG_STATE_HOME="$WORK/linux-state" "$LINUX_CLI" "$@" >"$WORK/$run.out" 2>"$WORK/$run.err" </dev/null
    echo $? >"$WORK/$run.rc"
}
rc_is() { [ "$(cat "$WORK/$1.rc")" = "$2" ] || { echo "  $1: exit code $(cat "$WORK/$1.rc"), expected $2"; sed 's/^/  | /' "$WORK/$1.err"; false; }; }
same() { diff -u "$WORK/$1" "$WORK/$2" >"$WORK/diff.txt" || { sed 's/^/  | /' "$WORK/diff.txt" | head -40; false; }; }
has_line() { grep -qxF -- "$2" "$WORK/$1" || { echo "  $1 lacks: $2"; sed 's/^/  | /' "$WORK/$1"; false; }; }
has_text() { grep -qF -- "$2" "$WORK/$1" || { echo "  $1 lacks: $2"; sed 's/^/  | /' "$WORK/$1"; false; }; }

for f in "$EXE" "$LIBRARY" "$INCOMPLETE" "$LINUX_CLI" "$GUI" "$GUI_TEST" "$RUNTIME_TEST"; do
    [ -f "$f" ] || { echo "missing $f: run make windows and make build first"; fail "build outputs"; finish; }
done
rm -rf "$WORK"
mkdir -p "$WORK"

# Static runtime: the program and the library import system DLLs only.
check "varnel-cli.exe, varnel.exe and ZRW32N50.dll import system DLLs only" imports_are_system "$EXE" "$LIBRARY" "$GUI"

# The prefix, once: every wine package is installed by now. A persistent
# wine server spares every run its start.
started=$(date +%s)
# Windows are made by wine's null graphics driver (no X server); the
# prefix gets wine's own fonts ("MS Sans Serif" among them), which Debian's
# wine leaves out of a new prefix, so that the dialogs' labels keep their size.
if [ ! -f "$WINEPREFIX/.varnel-ready-$WINE_BITS-3" ]; then
    rm -rf "$WINEPREFIX"
    "$WINE" wineboot -u >"$WORK/wineboot.log" 2>&1 </dev/null
    "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >>"$WORK/wineboot.log" 2>&1 </dev/null
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
    wineserver -w
    touch "$WINEPREFIX/.varnel-ready-$WINE_BITS-3"
fi
# The program's state (%LOCALAPPDATA%\Varnel) from a previous run goes.
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/Varnel
wineserver -p
# Wine's own version for every program: none left over from the family runs
# of an interrupted run (tests/windows/families.sh).
"$WINE" reg delete 'HKCU\Software\Wine\AppDefaults' /f >/dev/null 2>&1 </dev/null
trap 'wineserver -k 2>/dev/null; exit 1' INT TERM
echo "# wine prefix ready in $(($(date +%s) - started)) s"

# The default machine's adapters under the Windows 2000 key, and the
# installation path, as a Windows 2000 machine holds them.
CLASS='HKLM\System\CurrentControlSet\Control\Class\{4D36E972-E325-11CE-BFC1-08002BE10318}'
registry() {
    "$WINE" reg delete "$CLASS" /f "$REG_VIEW" >/dev/null 2>&1 </dev/null
    registry_keys >"$WORK/reg.log" 2>&1 </dev/null || { sed 's/^/  | /' "$WORK/reg.log"; false; }
}
registry_keys() {
    "$WINE" reg add "$CLASS\\0000" /v DriverDesc /t REG_SZ /d "Wired Ethernet Adapter" /f "$REG_VIEW" &&
        "$WINE" reg add "$CLASS\\0000" /v NetCfgInstanceId /t REG_SZ /d "{6C3F2E10-7A41-4E21-9A1B-2F0C5D8E1A30}" /f "$REG_VIEW" &&
        "$WINE" reg add "$CLASS\\0001" /v DriverDesc /t REG_SZ /d "802.11b Wireless LAN PC Card" /f "$REG_VIEW" &&
        "$WINE" reg add "$CLASS\\0001" /v NetCfgInstanceId /t REG_SZ /d "{8D2A4C61-1B7E-4F0B-9C3D-5E6F70819203}" /f "$REG_VIEW" &&
        "$WINE" reg add 'HKCU\Software\Varnel' /v Path /t REG_SZ /d 'C:\Program Files\Varnel' /f "$REG_VIEW"
}
check "the adapters' keys in wine's registry" registry

# The runtime's wide-character imports, which the programs give over the
# narrow functions (stubs on 95, 98 and ME): one line per check.
runtime_compat() {
    : | "$WINE" "$RUNTIME_TEST" >"$WORK/runtime.out.raw" 2>&1
    rc=$?
    tr -d '\r' <"$WORK/runtime.out.raw" | sed 's/^/  /'
    [ "$rc" -eq 0 ]
}
check "the runtime's CreateSemaphoreW, GetModuleHandleW and LoadLibraryW, given over their narrow twins" runtime_compat

# The program and the library side by side.
BIN=$WORK/bin
mkdir -p "$BIN"
cp "$EXE" "$LIBRARY" "$BIN/"

# Two default machines: one for the Linux build, one behind the library.
"$LINUX_CLI" --machine "$WORK/machine-linux" machine init >/dev/null &&
    "$LINUX_CLI" --machine "$WORK/machine-win" machine init >/dev/null
win init --machine "$(winpath "$WORK/machine-exe")" machine init
check "varnel-cli.exe --machine makes the same default machine" \
    diff -r "$WORK/machine-linux" "$WORK/machine-exe"

export VARNEL_SIM_LIBRARY_MACHINE
VARNEL_SIM_LIBRARY_MACHINE=$(winpath "$WORK/machine-win")
LINUX_MACHINE=$WORK/machine-linux

win adapters adapters
linux adapters-linux --machine "$LINUX_MACHINE" adapters
check "adapters: the WLAN card, as on Linux" eval 'rc_is adapters 0 && has_line adapters.out "1  802.11b Wireless LAN PC Card" && same adapters-linux.out adapters.out'

win traced --trace "$(winpath "$WORK/refused.jsonl")" adapters
check "--trace on the access library: refused, nothing traced" \
    eval 'rc_is traced 1 && has_text traced.err "--trace: only the simulated machine" && [ ! -e "$WORK/refused.jsonl" ]'

win info info --json
linux info-linux --machine "$LINUX_MACHINE" info --json
check "info --json: the card as on Linux" eval 'rc_is info 0 && has_text info.out "\"primary\": \"1.3.6\"" && same info-linux.out info.out'

win backup pda backup -o "$(winpath "$WORK/backup-win.pda")"
linux backup-linux --machine "$LINUX_MACHINE" pda backup -o "$WORK/backup-linux.pda"
backups_match() {
    grep -v '^; Read ' "$WORK/backup-win.pda" >"$WORK/backup-win.body" &&
        grep -v '^; Read ' "$WORK/backup-linux.pda" >"$WORK/backup-linux.body" &&
        ! grep -q "$(printf '\r')" "$WORK/backup-win.pda" && same backup-linux.body backup-win.body
}
check "pda backup: the same PDA file as on Linux" eval 'rc_is backup 0 && backups_match'

# Without a terminal, the warning gets its safe answer: no Aux write
# (OID 0xFF01018C) reaches the card.
VARNEL_TRACE=$(winpath "$WORK/trace-asked.jsonl") win asked update --oem "$(winpath "$OEM")"
check "update without --yes and without a terminal: cancelled, nothing sent" \
    eval 'rc_is asked 3 && has_line asked.err "  -> Cancel (no terminal; confirm with --yes)" && [ -s "$WORK/trace-asked.jsonl" ] && ! grep -q "\"oid\":4278256012," "$WORK/trace-asked.jsonl"'

started=$(date +%s)
VARNEL_TRACE=$(winpath "$WORK/trace-win.jsonl") win update update --yes --oem "$(winpath "$OEM")"
echo "# update under wine: $(($(date +%s) - started)) s"
linux update-linux --machine "$LINUX_MACHINE" --trace "$WORK/trace-linux.jsonl" update --yes --oem "$OEM"
# The summaries differ only in the paths they name.
without_paths() {
    grep -v -e '^Source File: ' -e '^Card PDA will be saved before writing, to: ' \
        -e '^Card firmware will be saved before writing, to: ' "$WORK/$1" >"$WORK/$1.nopaths"
}
check "update --yes --oem: done, the same summary as on Linux" \
    eval 'rc_is update 0 && rc_is update-linux 0 && has_text update.err "Update Successful!" &&
          without_paths update.out && without_paths update-linux.out && same update-linux.out.nopaths update.out.nopaths'
# Every line holds the request's OID, type, length, RID or address and
# count, and status, in order.
check "update: the same requests, one by one ($(wc -l <"$WORK/trace-linux.jsonl" 2>/dev/null) of them)" \
    eval '[ -s "$WORK/trace-linux.jsonl" ] && same trace-linux.jsonl trace-win.jsonl'
check "update: the card ends with the same flash" diff -r "$WORK/machine-linux/cards" "$WORK/machine-win/cards"
backup_in_local_app_data() {
    find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Varnel/backups/*' -type f | grep -q .
}
check "update: the PDA backup under %LOCALAPPDATA%\\Varnel" backup_in_local_app_data
# The update history in %LOCALAPPDATA%\Varnel, with the files' SHA-256 digests
# (the system's CryptoAPI here, libmd on Linux) as on Linux.
digests_match() {
    history=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Varnel/history.jsonl' | head -1)
    [ -n "$history" ] || { echo "  no history.jsonl"; return 1; }
    grep -o '"sha256":"[0-9a-f]*"' "$history" >"$WORK/digests-win.txt"
    grep -o '"sha256":"[0-9a-f]*"' "$WORK/linux-state/varnel/history.jsonl" >"$WORK/digests-linux.txt"
    [ -s "$WORK/digests-linux.txt" ] && same digests-linux.txt digests-win.txt
}
check "update: the history's file digests as on Linux" digests_match

# The firmware the update replaced, saved before its first flash write, and
# put back: the flash below the PDA sector is the factory's again.
"$LINUX_CLI" --machine "$WORK/machine-factory" machine init >/dev/null
firmware_backup() {
    find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Varnel/backups/flash-*.srec' -type f | head -1
}
check "update: the firmware backup under %LOCALAPPDATA%\\Varnel, named in the status" \
    eval '[ -n "$(firmware_backup)" ] && has_text update.err "Card firmware saved to "'
firmware_restored() {
    backup=$(firmware_backup)
    [ -n "$backup" ] || { echo "  no firmware backup"; return 1; }
    win fwrestore firmware restore --yes "$(winpath "$backup")"
    rc_is fwrestore 0 && has_text fwrestore.out "Firmware it returns to (read from the data written): Primary 1.3.6, Station 1.5.0" &&
        diff -r -x 007F0000.bin "$WORK/machine-factory/cards/0001/flash" "$WORK/machine-win/cards/0001/flash"
}
check "firmware restore: the update's backup returns the flash to the factory's" firmware_restored

# A folder named outside ASCII: Windows hands the program the name in its
# ANSI code page (here 1252, where é is the byte 0xE9, not UTF-8). The JSON
# result and the history stay valid UTF-8 (iconv refuses anything else) and
# carry the byte as U+F00E9 (F3 B0 83 A9), the escape of docs/file-formats.md.
cp -r "$SOURCE/examples/release" "$WORK/release café"
win named update --yes --json --oem "$(winpath "$WORK/release café/OEMRelease.oem")"
named_json() {
    escaped=$(printf 'release caf\363\260\203\251')
    history=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Varnel/history.jsonl' | head -1)
    iconv -f UTF-8 -t UTF-8 "$WORK/named.out" >/dev/null && iconv -f UTF-8 -t UTF-8 "$history" >/dev/null &&
        has_text named.out "\"outcome\": \"succeeded\"" && has_text named.out "$escaped\\\\changes.pda" &&
        grep -qF "$escaped" "$history" || { echo "  $history:"; tail -1 "$history" | sed 's/^/  | /'; false; }
}
check "update --json from a folder named in the ANSI code page: valid JSON, the name escaped" \
    eval 'rc_is named 0 && named_json'

# varnel.exe's windows, driven in-process by control id
# (tests/windows/gui_test.cpp): each row's own checks are listed under it.
BIN=$WORK/bin-gui
mkdir -p "$BIN"
cp "$GUI" "$GUI_TEST" "$LIBRARY" "$BIN/"
RELEASE=$SOURCE/examples/release
VARNEL_RELEASE=$(winpath "$RELEASE")
export VARNEL_RELEASE
# gui NAME ARGS...: the test program; its lines indented under the row.
gui() {
    run=$1
    shift
    : | timeout 180 "$WINE" "$BIN/varnel-gui-test.exe" "$@" >"$WORK/$run.out.raw" 2>"$WORK/$run.err"
    echo $? >"$WORK/$run.rc"
    tr -d '\r' <"$WORK/$run.out.raw" | sed 's/^/  /'
    rc_is "$run" 0
}
gui_started=$(date +%s)
check "varnel.exe: the main window as its control table says" gui contract contract "$(winpath "$WORK/machine-gui-contract")"
# At 120, 144 and 192 DPI (displays at 125, 150 and 200 %) every text
# still fits its control.
for dpi in 120 144 192; do
    "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1 </dev/null
    check "varnel.exe: the main window as its control table says, at $dpi DPI" gui contract$dpi contract "$(winpath "$WORK/machine-gui-contract$dpi")"
done
# At 288 DPI (300 %) Update History is larger than the virtual screen: it is
# made to fit.
"$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 288 /f >/dev/null 2>&1 </dev/null
check "varnel.exe: Update History fits the screen at 288 DPI" gui history288 history-fits "$(winpath "$WORK/machine-gui-history288")"
"$WINE" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 </dev/null
check "varnel.exe: the main window opens where it was left, centred on the first start or when that place is on no screen" \
    gui place place "$(winpath "$WORK/machine-gui-place")"
check "varnel.exe: without adapters nothing in the list looks selected" gui noadapters no-adapters "$(winpath "$WORK/machine-gui-noadapters")"
check "varnel.exe: Cancel, Esc and Enter on a focused Cancel write nothing" gui waysout ways-out "$(winpath "$WORK/machine-gui-waysout")"
check "varnel.exe: a logoff while the card is written waits for the piece, then ends the program" \
    gui logoff logoff "$(winpath "$WORK/machine-gui-logoff")"
check "varnel.exe: Tools > Restore PDA... writes the chosen .pda file after saving the card's" \
    gui restorepda restore-pda "$(winpath "$WORK/machine-gui-restorepda")"

# A whole update through the windows and ZRW32N50.dll, against the Linux
# build's varnel-cli with the same files on a machine of its own.
"$LINUX_CLI" --machine "$WORK/machine-gui" machine init >/dev/null &&
    "$LINUX_CLI" --machine "$WORK/machine-gui-linux" machine init >/dev/null
mkdir -p "$WORK/gui-update"
VARNEL_SIM_LIBRARY_MACHINE=$(winpath "$WORK/machine-gui") VARNEL_TRACE=$(winpath "$WORK/trace-gui.jsonl") \
    gui guiupdate update "$(winpath "$WORK/gui-update")" "$(winpath "$RELEASE/primary.hex")" \
    "$(winpath "$RELEASE/station.hex")" "$(winpath "$RELEASE/changes.pda")" >"$WORK/guiupdate.rows"
cat "$WORK/guiupdate.rows"
linux gui-linux --machine "$WORK/machine-gui-linux" --trace "$WORK/trace-gui-linux.jsonl" update --yes \
    "$RELEASE/primary.hex" "$RELEASE/station.hex" "$RELEASE/changes.pda"
check "varnel.exe: an update through the windows and the access library" rc_is guiupdate 0
check "varnel.exe: the same requests as varnel-cli --machine, one by one" \
    eval 'rc_is gui-linux 0 && [ -s "$WORK/trace-gui.jsonl" ] && same trace-gui-linux.jsonl trace-gui.jsonl'
check "varnel.exe: the card ends with the same flash" diff -r "$WORK/machine-gui-linux/cards" "$WORK/machine-gui/cards"
without_paths gui-linux.out && cp "$WORK/gui-update/summary.txt" "$WORK/gui-summary" && without_paths gui-summary
check "varnel.exe: the same summary as varnel-cli" same gui-linux.out.nopaths gui-summary.nopaths

# Two processes: the test program holds the window, a second varnel.exe
# hands its files over and ends.
check "varnel.exe: a second start hands its files over in order and ends" \
    gui handover handover "$(winpath "$WORK/machine-gui-handover")" "$(winpath "$BIN/varnel.exe")" \
    "$(winpath "$RELEASE/station.hex")" "$(winpath "$RELEASE/changes.pda")" "$(winpath "$RELEASE/card.pda")"
echo "# varnel.exe's windows: $(($(date +%s) - gui_started)) s"

# The release-dependent paths, once for each Windows family
# (tests/windows/families.sh).
. "$SOURCE/tests/windows/families.sh"

# The loading path's failures. Each row: what is beside the program, the
# machine's start-up probe answer, and the messages; every command finds no
# adapter, and nothing is written.
DISABLED="Error - file(s) not found: Could not find/load the necessary system files. Functionality is disabled."
row() {
    label=$1 library=$2 probe=$3 message1=$4 message2=$5
    BIN=$WORK/bin-$label
    mkdir -p "$BIN"
    cp "$EXE" "$BIN/"
    [ -n "$library" ] && cp "$library" "$BIN/"
    machine=$WORK/machine-$label
    "$LINUX_CLI" --machine "$machine" machine init >/dev/null
    sed -i "s/\"startup_error\": 6/\"startup_error\": $probe/" "$machine/machine.json"
    grep -q "\"startup_error\": $probe" "$machine/machine.json" || { echo "  cannot set the probe's answer"; return 1; }
    cp -r "$machine" "$machine.before"
    VARNEL_SIM_LIBRARY_MACHINE=$(winpath "$machine")
    VARNEL_TRACE=$(winpath "$WORK/trace-$label.jsonl")
    export VARNEL_TRACE
    win "$label-adapters" adapters
    win "$label-backup" pda backup -o "$(winpath "$WORK/backup-$label.pda")"
    win "$label-update" update --yes --oem "$(winpath "$OEM")"
    unset VARNEL_TRACE
    rc_is "$label-adapters" 0 && has_line "$label-adapters.out" "<No adapters detected>" &&
        has_line "$label-adapters.err" "$message1" && has_line "$label-adapters.err" "$DISABLED" &&
        { [ -z "$message2" ] || has_line "$label-adapters.err" "$message2"; } &&
        rc_is "$label-backup" 1 && [ ! -e "$WORK/backup-$label.pda" ] &&
        rc_is "$label-update" 1 && [ ! -e "$WORK/trace-$label.jsonl" ] &&
        diff -r "$machine.before" "$machine"
}
check "library missing" row missing "" 6 \
    "Unable to load necessary system files.: W32N error code: 7E" "varnel-cli: ZRW32N50.dll: cannot be loaded (Windows error 126)"
check "a function missing" row incomplete "$INCOMPLETE" 6 \
    "Unable to load necessary system files.: W32N error code: 7F" "varnel-cli: ZRW32N50.dll: has no function W32N_MakeNdisRequest"
check "start-up probe: error 5" row probe5 "$LIBRARY" 5 \
    "Startup Error: The system reports that you have insufficient privileges to load the required driver. " ""
check "start-up probe: error 2" row probe2 "$LIBRARY" 2 \
    "Startup Error: Error loading system files: File Not Found." ""

# A library of the same name in the current folder or on PATH is never
# loaded: only the one beside the program (or in the system folder). The
# planted library is the simulated one with no machine named: any call into
# it says so on stderr. Each row: what is beside the program, and what the
# program must say instead.
PLANTED=$WORK/planted
mkdir -p "$PLANTED/cwd" "$PLANTED/path"
cp "$LIBRARY" "$PLANTED/cwd/" && cp "$LIBRARY" "$PLANTED/path/"
planted_cli() {
    label=$1 library=$2 message=$3
    BIN=$WORK/bin-$label
    mkdir -p "$BIN"
    cp "$EXE" "$BIN/"
    [ -n "$library" ] && cp "$library" "$BIN/"
    (unset VARNEL_SIM_LIBRARY_MACHINE && cd "$PLANTED/cwd" && WINEPATH=$(winpath "$PLANTED/path") win "$label" adapters)
    ! grep -q '(simulated)' "$WORK/$label.err" && has_line "$label.err" "$message" ||
        { echo "  the planted library was loaded:"; sed 's/^/  | /' "$WORK/$label.err"; false; }
}
check "varnel-cli.exe from a folder with a planted ZRW32N50.dll, none beside it: not loaded" planted_cli \
    planted-none "" "varnel-cli: ZRW32N50.dll: cannot be loaded (Windows error 126)"
check "varnel-cli.exe from a folder with a planted ZRW32N50.dll, another beside it: that one loaded" planted_cli \
    planted-incomplete "$INCOMPLETE" "varnel-cli: ZRW32N50.dll: has no function W32N_MakeNdisRequest"
# varnel.exe: started for a few seconds (its start-up check calls into the
# library at once), from the planted folder; beside it first the simulated
# library itself, to show that a loaded library does speak.
planted_gui() {
    label=$1 library=$2 expect=$3
    BIN=$WORK/bin-$label
    mkdir -p "$BIN"
    cp "$GUI" "$BIN/"
    [ -n "$library" ] && cp "$library" "$BIN/"
    (unset VARNEL_SIM_LIBRARY_MACHINE && cd "$PLANTED/cwd" && WINEPATH=$(winpath "$PLANTED/path") timeout 20 "$WINE" "$BIN/varnel.exe" \
        >"$WORK/$label.out" 2>"$WORK/$label.err" </dev/null)
    if grep -q '(simulated)' "$WORK/$label.err"; then spoke=yes; else spoke=no; fi
    [ "$spoke" = "$expect" ] || { echo "  a library spoke: $spoke, expected $expect"; sed 's/^/  | /' "$WORK/$label.err" | head; false; }
}
check "varnel.exe with the simulated library beside it: the library is called" planted_gui planted-gui-beside "$LIBRARY" yes
check "varnel.exe from a folder with a planted ZRW32N50.dll, none beside it: not loaded" planted_gui planted-gui-none "" no

# The installer (make windows-package): a silent install into this prefix,
# the installed programs run, and the uninstaller takes away all it put there.
# The installer: the first of its name, none when there is none.
for SETUP in "$WIN_BUILD"/package/varnel-*-setup.exe; do break; done
[ -f "$SETUP" ] || SETUP=
INSTALLED="$WINEPREFIX/drive_c/Program Files/Varnel"
LINK=$(printf '%s' "$WINEPREFIX/drive_c/users/"*"/AppData/Roaming/Microsoft/Windows/Start Menu/Programs")/Varnel.lnk
installed() {
    [ -n "$SETUP" ] || { echo "  no installer: run make windows-package"; return 1; }
    : | "$WINE" "$SETUP" /S >"$WORK/setup.log" 2>&1 || { echo "  the installer failed"; return 1; }
    for f in varnel.exe varnel-cli.exe README.txt uninstall.exe; do
        [ -f "$INSTALLED/$f" ] || { echo "  $f not installed"; return 1; }
    done
    [ -f "$LINK" ] || { echo "  no Start-menu entry"; return 1; }
    "$WINE" reg query 'HKCR\.oem' </dev/null 2>/dev/null | grep -q Varnel.LinkFile || { echo "  .oem is not ours"; return 1; }
    "$WINE" reg query 'HKCR\Varnel.LinkFile\shell\open\command' </dev/null 2>/dev/null | grep -qF 'varnel.exe" "%1"' ||
        { echo "  .oem does not open varnel.exe"; return 1; }
    "$WINE" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnel' /v UninstallString \
        </dev/null 2>/dev/null | grep -q uninstall.exe || { echo "  no uninstaller registered"; return 1; }
    BIN="$INSTALLED"
    win installed --version
    rc_is installed 0 && has_line installed.out "varnel-cli $("$LINUX_CLI" --version | sed 's/^varnel-cli //')"
}
check "installer: /S installs both programs, the Start-menu entry, the .oem type, the uninstaller" installed
uninstalled() {
    : | "$WINE" "$INSTALLED/uninstall.exe" /S >"$WORK/uninstall.log" 2>&1 || { echo "  the uninstaller failed"; return 1; }
    # It runs on from a copy of itself, and ends when it has removed the folder.
    for _ in $(seq 1 60); do
        [ -e "$INSTALLED" ] || break
        sleep 0.5
    done
    # shellcheck disable=SC2012 # a listing to read
    [ ! -e "$INSTALLED" ] || { echo "  left behind:"; ls -R "$INSTALLED" | sed 's/^/  | /'; return 1; }
    [ ! -e "$LINK" ] || { echo "  the Start-menu entry is left"; return 1; }
    ! "$WINE" reg query 'HKCR\.oem' </dev/null >/dev/null 2>&1 || { echo "  .oem is left"; return 1; }
    ! "$WINE" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnel' </dev/null >/dev/null 2>&1 ||
        { echo "  the uninstaller's key is left"; return 1; }
}
check "installer: the uninstaller removes what was installed" uninstalled

finish
