# shellcheck shell=sh
# Sourced by run.sh, with its helpers and variables: the release-dependent
# paths, once for each Windows family, with wine set to a version of that
# family for the programs alone (HKCU\Software\Wine\AppDefaults\PROGRAM.exe
# Version). The simulated library answers the platform queries from that
# version, as the real library does; each family's machine keeps its
# adapters as the family does (tests/windows/family_machine.py: the key,
# the subkey names, the names the driver opens them by), and only that
# family's key is in wine's registry, so a program that chose another key
# would find no card. In each family: the adapters, a whole update (its
# requests one by one, its flash, its summary as the Linux program's on a
# machine of the same family), its backups and history line, a firmware
# restore, and an update through varnel.exe's windows.
#
# What a family run cannot show: wine implements every function whatever
# version it reports (the wide-character stubs of 95/98/ME, the functions
# older releases lack, their comctl32 and msvcrt.dll are not imitated: the
# release table checks those from the import tables), and file systems,
# locks and power losses are Linux's underneath.

FAMILY_KEYS=$(python3 "$SOURCE/tests/windows/family_machine.py" --keys)
TAB=$(printf '\t')

# family_registry ROWS: every family's adapter key cleared, then the rows
# family_machine.py printed written into wine's registry.
family_registry() {
    echo "$FAMILY_KEYS" | while IFS= read -r key; do
        "$WINE" reg delete "HKLM\\$key" /f "$REG_VIEW" >/dev/null 2>&1 </dev/null
    done
    while IFS="$TAB" read -r key value data; do
        "$WINE" reg add "HKLM\\$key" /v "$value" /t REG_SZ /d "$data" /f "$REG_VIEW" >>"$WORK/reg.log" 2>&1 </dev/null ||
            { sed 's/^/  | /' "$WORK/reg.log"; return 1; }
    done <"$1"
}

# family_version FAMILY: wine reports FAMILY's version to the two programs
# (empty: its default again).
family_version() {
    for program in varnel-cli.exe varnel-gui-test.exe; do
        if [ -n "$1" ]; then
            "$WINE" reg add "HKCU\\Software\\Wine\\AppDefaults\\$program" /v Version /t REG_SZ /d "$1" /f
        else
            "$WINE" reg delete "HKCU\\Software\\Wine\\AppDefaults\\$program" /f
        fi
    done >/dev/null 2>&1 </dev/null
}

# The program's state folders in the prefix (wherever the family's
# known-folder answers put them).
state_folders() {
    find "$WINEPREFIX/drive_c/users" -type d -name Varnel ! -path '*/Start Menu/*' 2>/dev/null
}

# family_machine FAMILY DIR: a default machine, made over as FAMILY keeps it.
family_machine() {
    "$LINUX_CLI" --machine "$2" machine init >/dev/null &&
        python3 "$SOURCE/tests/windows/family_machine.py" "$1" "$2"
}

# The library follows the system: a machine kept as Windows 2000 keeps it,
# under wine set to Windows 98, is refused, saying why; no card is found.
BIN=$WORK/bin
"$LINUX_CLI" --machine "$WORK/machine-mismatch" machine init >/dev/null
family_version win98
VARNEL_SIM_LIBRARY_MACHINE=$(winpath "$WORK/machine-mismatch") win mismatch adapters
check "family: a Windows 2000 machine under wine's Windows 98: the library refuses it, no card found" \
    eval 'has_line mismatch.out "<No adapters detected>" &&
          has_text mismatch.err "keeps its adapters as Windows 2000 or later does, but this system is Windows 95, 98 or ME"'

for family in win98 nt40 win2k winxp; do
    F=$WORK/family-$family
    rm -rf "$F"
    mkdir -p "$F"
    family_started=$(date +%s)
    # Three machines of the family: behind the library, for the Linux
    # program, and the factory's, for the restore.
    family_machine $family "$F/machine-win" >"$F/registry.rows" &&
        family_machine $family "$F/machine-linux" >/dev/null &&
        family_machine $family "$F/machine-factory" >/dev/null &&
        family_machine $family "$F/machine-gui" >/dev/null &&
        family_machine $family "$F/machine-gui-linux" >/dev/null
    check "$family: the adapters' keys as the family keeps them, in wine's registry" family_registry "$F/registry.rows"
    family_version $family
    state_folders | while IFS= read -r d; do rm -rf "$d"; done

    export VARNEL_SIM_LIBRARY_MACHINE
    VARNEL_SIM_LIBRARY_MACHINE=$(winpath "$F/machine-win")
    linux_family() {
        run=$1
        shift
        XDG_STATE_HOME="$F/linux-state" "$LINUX_CLI" --machine "$F/machine-linux" "$@" \
            >"$WORK/$run.out" 2>"$WORK/$run.err" </dev/null
        echo $? >"$WORK/$run.rc"
    }

    win $family-adapters adapters
    linux_family $family-adapters-linux adapters
    check "$family: the WLAN card found under the family's key and opened by its name, as on Linux" \
        eval 'rc_is $family-adapters 0 && has_line $family-adapters.out "1  802.11b Wireless LAN PC Card" &&
              same $family-adapters-linux.out $family-adapters.out'

    VARNEL_TRACE=$(winpath "$F/trace-win.jsonl") win $family-update update --yes --oem "$(winpath "$OEM")"
    linux_family $family-update-linux --trace "$F/trace-linux.jsonl" update --yes --oem "$OEM"
    check "$family: update --yes --oem: done, the same summary as on Linux" \
        eval 'rc_is $family-update 0 && rc_is $family-update-linux 0 && without_paths $family-update.out &&
              without_paths $family-update-linux.out && same $family-update-linux.out.nopaths $family-update.out.nopaths'
    check "$family: update: the same requests, one by one, and the same flash" \
        eval '[ -s "$F/trace-linux.jsonl" ] && same family-$family/trace-linux.jsonl family-$family/trace-win.jsonl &&
              diff -r "$F/machine-linux/cards" "$F/machine-win/cards"'

    # The backups and the history line, in the state folder the family's
    # known folders give; on 95/98/ME every file there was replaced in steps
    # (no atomic replace), and none was left half done.
    family_state() {
        state=$(state_folders | head -1)
        [ -n "$state" ] || { echo "  no state folder"; return 1; }
        echo "  state folder: ${state#"$WINEPREFIX"/}"
        find "$state/backups" -name '*.pda' -type f | grep -q . || { echo "  no PDA backup"; return 1; }
        find "$state/backups" -name 'flash-*.srec' -type f | grep -q . || { echo "  no firmware backup"; return 1; }
        # The run's mark before its first write, and its outcome.
        [ "$(wc -l <"$state/history.jsonl")" -eq "$(wc -l <"$F/linux-state/varnel/history.jsonl")" ] &&
            tail -1 "$state/history.jsonl" | grep -q '"action":"update".*"outcome":"succeeded"' ||
            { echo "  the history is not the Linux run's:"; sed 's/^/  | /' "$state/history.jsonl" | cut -c1-160; return 1; }
        grep -o '"sha256":"[0-9a-f]*"' "$state/history.jsonl" >"$F/digests-win.txt"
        grep -o '"sha256":"[0-9a-f]*"' "$F/linux-state/varnel/history.jsonl" >"$F/digests-linux.txt"
        [ -s "$F/digests-linux.txt" ] && same "family-$family/digests-linux.txt" "family-$family/digests-win.txt" || return 1
        left=$(find "$state" "$F/machine-win" -name '*.varnel-old' -o -name '*.varnel-new' | head -3)
        [ -z "$left" ] || { echo "  a replacement left half done: $left"; return 1; }
    }
    check "$family: the PDA and firmware backups and the history line (its digests as on Linux) in the state folder" \
        family_state

    family_restore() {
        backup=$(find "$(state_folders | head -1)/backups" -name 'flash-*.srec' -type f | head -1)
        [ -n "$backup" ] || { echo "  no firmware backup"; return 1; }
        win "$family-restore" firmware restore --yes "$(winpath "$backup")"
        card=$(ls "$F/machine-factory/cards")
        rc_is "$family-restore" 0 &&
            diff -r -x 007F0000.bin "$F/machine-factory/cards/$card/flash" "$F/machine-win/cards/$card/flash"
    }
    check "$family: firmware restore: the update's backup returns the flash to the factory's" family_restore

    # The same update through varnel.exe's windows.
    mkdir -p "$F/gui-update"
    (
        # shellcheck disable=SC2034 # gui runs $BIN/varnel-gui-test.exe
        BIN=$WORK/bin-gui
        VARNEL_SIM_LIBRARY_MACHINE=$(winpath "$F/machine-gui") VARNEL_TRACE=$(winpath "$F/trace-gui.jsonl") \
            gui $family-gui update "$(winpath "$F/gui-update")" "$(winpath "$RELEASE/primary.hex")" \
            "$(winpath "$RELEASE/station.hex")" "$(winpath "$RELEASE/changes.pda")" >"$F/gui.rows"
    )
    XDG_STATE_HOME="$F/linux-state-gui" "$LINUX_CLI" --machine "$F/machine-gui-linux" --trace "$F/trace-gui-linux.jsonl" \
        update --yes "$RELEASE/primary.hex" "$RELEASE/station.hex" "$RELEASE/changes.pda" >/dev/null 2>&1 </dev/null
    check "$family: varnel.exe: an update through the windows, the same requests and flash as varnel-cli --machine" \
        eval '{ rc_is $family-gui 0 && [ -s "$F/trace-gui.jsonl" ] &&
              same family-$family/trace-gui-linux.jsonl family-$family/trace-gui.jsonl &&
              diff -r "$F/machine-gui-linux/cards" "$F/machine-gui/cards"; } || { sed "s/^/  /" "$F/gui.rows"; false; }'
    echo "# $family: $(($(date +%s) - family_started)) s"
done

# Wine's default version, the default machine and the Windows 2000 keys
# again, for what follows.
family_version ""
VARNEL_SIM_LIBRARY_MACHINE=$(winpath "$WORK/machine-win")
unset VARNEL_TRACE
check "the adapters' keys of the default machine in wine's registry again" eval \
    'echo "$FAMILY_KEYS" | while IFS= read -r key; do "$WINE" reg delete "HKLM\\$key" /f "$REG_VIEW" >/dev/null 2>&1 </dev/null; done; registry'
