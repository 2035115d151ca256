# shellcheck shell=sh
# Sourced by tests/windows/run.sh and tests/windows/static.sh: the rows of a
# check script and their tally, and the checks both make of a Windows build.
#   WORK=DIR; . tests/windows/lib.sh
# Each row prints "ok - NAME" or "not ok - NAME"; summary prints the tally
# and fails when a row failed.

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok - $1"; }
fail() { failed=$((failed + 1)); echo "not ok - $1"; }
# check NAME COMMAND...: a row passes when the command succeeds.
check() {
    check_name=$1
    shift
    if "$@"; then ok "$check_name"; else fail "$check_name"; fi
}
summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

# pe_format FILE: the program's format as objdump names it (pei-i386,
# pei-x86-64), nothing for a file that is not a program.
pe_format() { objdump -f "$1" 2>/dev/null | sed -n 's/.*file format //p'; }

# imports_are_system FILE...: each program imports system DLLs only (the
# runtime is linked statically).
imports_are_system() {
    for program in "$@"; do
        objdump -p "$program" | sed -n 's/^\s*DLL Name: //p' >"$WORK/imports.txt"
        if grep -viE '^(kernel32|advapi32|user32|msvcrt|gdi32|comctl32|comdlg32|shell32)\.dll$' "$WORK/imports.txt"; then
            echo "  $program imports more than system DLLs"
            return 1
        fi
    done
}
