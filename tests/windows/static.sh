#!/bin/sh
# The shipped 32-bit Windows build, checked without running it (on every
# machine, also where 32-bit programs cannot run):
#   tests/windows/static.sh WINDOWS_BUILD_DIR
# - varnel.exe, varnel-cli.exe and the simulated ZRW32N50.dll are 32-bit
#   programs that import system DLLs only (the runtime is linked statically);
# - the installer holds the staged programs and README byte for byte (7-Zip
#   opens NSIS installers) and an uninstaller, and its compiled script holds
#   the registry entries and the shortcut the installer writes
#   (tests/windows/nsis_strings.py reads them out of its header);
# - the Windows releases that must load varnel.exe, varnel-cli.exe, the
#   installer and its uninstaller (tests/windows/releases/required) do, by
#   their PE headers and import tables (tests/windows/release_table.py prints
#   the table of every release).
set -u
WIN_BUILD=$(realpath "$1")
SOURCE=$(realpath "$(dirname "$0")/../..")
WORK=$WIN_BUILD/static-test
STAGE=$WIN_BUILD/dist/windows/stage

# shellcheck source=lib.sh
. "$SOURCE/tests/windows/lib.sh"
rm -rf "$WORK" && mkdir -p "$WORK"

PROGRAMS="$WIN_BUILD/cli/varnel-cli.exe $WIN_BUILD/ui/win32/varnel.exe $WIN_BUILD/tests/windows/sim-library/ZRW32N50.dll"
thirty_two_bit() {
    for f in "$@"; do
        format=$(pe_format "$f")
        [ "$format" = pei-i386 ] || { echo "  $f: ${format:-not a program}"; return 1; }
    done
}
# shellcheck disable=SC2086 # the three paths, split
check "varnel-cli.exe, varnel.exe and ZRW32N50.dll are 32-bit programs" thirty_two_bit $PROGRAMS
# shellcheck disable=SC2086
check "they import system DLLs only" imports_are_system $PROGRAMS

# The installer: the first of its name, none when there is none.
for SETUP in "$WIN_BUILD"/package/varnel-*-setup.exe; do break; done
[ -f "$SETUP" ] || SETUP=
installer_files() {
    [ -n "$SETUP" ] || { echo "  no installer: run make windows-package"; return 1; }
    mkdir -p "$WORK/setup" && (cd "$WORK/setup" && 7zz x -y "$SETUP" >"$WORK/7z.log" 2>&1) ||
        { sed 's/^/  | /' "$WORK/7z.log"; return 1; }
    for f in varnel.exe varnel-cli.exe README.txt; do
        cmp "$STAGE/$f" "$WORK/setup/$f" || return 1
    done
    [ "$(pe_format "$WORK/setup/uninstall.exe")" = pei-i386 ] ||
        { echo "  no 32-bit uninstaller"; return 1; }
    # shellcheck disable=SC2012 # names the installer itself chose
    [ "$(ls "$WORK/setup" | sort | tr '\n' ' ')" = "README.txt uninstall.exe varnel-cli.exe varnel.exe " ] ||
        { echo "  more files than the programs, the README and the uninstaller:"; ls "$WORK/setup" | sed 's/^/  | /'; return 1; }
}
check "the installer holds the staged varnel.exe, varnel-cli.exe and README.txt, and an uninstaller" installer_files

installer_script() {
    python3 "$SOURCE/tests/windows/nsis_strings.py" "$SETUP" >"$WORK/strings.txt" || return 1
    for text in 'Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnel' UninstallString QuietUninstallString \
        'Software\Varnel' Path .oem Varnel.LinkFile 'Varnel.LinkFile\shell\open\command' '\varnel.exe" "%1"' \
        '\Varnel.lnk' '\Firmware' '\uninstall.exe" /S' \
        'Pentium Pro, Pentium II or later processor'; do
        grep -qF -- "$text" "$WORK/strings.txt" || { echo "  the installer's script lacks: $text"; return 1; }
    done
}
check "the installer's script writes the uninstaller's key, the Path value, the .oem type and the shortcut, and names the processor floor" installer_script

# The manifest in the form Windows XP accepts (95 to 2000 ignore it): the
# common controls 6 dependency, trustInfo in the asm.v2 namespace, and no
# asm.v3 <application> element (reported to stop XP from starting a program).
manifest_for_xp() {
    tr -d '\r' <"$WIN_BUILD/ui/win32/varnel.exe" | sed -n '/<assembly /,/<\/assembly>/p' >"$WORK/manifest.xml"
    [ -s "$WORK/manifest.xml" ] || { echo "  no manifest in varnel.exe"; return 1; }
    grep -q 'Microsoft.Windows.Common-Controls' "$WORK/manifest.xml" || { echo "  no common controls 6 dependency"; return 1; }
    grep -q 'trustInfo xmlns="urn:schemas-microsoft-com:asm.v2"' "$WORK/manifest.xml" || { echo "  trustInfo not in asm.v2"; return 1; }
    if grep -n -e 'asm.v3' -e '<application' -e 'windowsSettings' "$WORK/manifest.xml"; then
        echo "  the manifest has what XP is reported to refuse"
        return 1
    fi
}
check "varnel.exe's manifest is in the form Windows XP accepts" manifest_for_xp

check "the release table's rules, on made-up programs (tests/windows/release_table_test.py)" \
    python3 "$SOURCE/tests/windows/release_table_test.py"

release_table() {
    [ -n "$SETUP" ] && [ -f "$WORK/setup/uninstall.exe" ] || { echo "  no installer and uninstaller to check"; return 1; }
    python3 "$SOURCE/tests/windows/release_table.py" "$WIN_BUILD/ui/win32/varnel.exe" "$WIN_BUILD/cli/varnel-cli.exe" \
        "$SETUP" "$WORK/setup/uninstall.exe"
}
check "the required Windows releases load varnel.exe, varnel-cli.exe, the installer and the uninstaller" release_table

summary
