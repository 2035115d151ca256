#!/bin/sh
# Builds the Debian package in BUILD and checks it as a user would meet it:
# lintian, the desktop entry, the AppStream data and the file types, then
# the package's contents unpacked into a temporary root and run from
# elsewhere: both programs, the man pages and the bash completion.
#
#   scripts/check-package.sh BUILD
set -eu

build=$(cd "$1" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

fail() {
    echo "check-package: $*" >&2
    exit 1
}

rm -rf "$build/package"
cmake --build "$build" --target package >/dev/null
deb=$(ls "$build"/package/varnel_*.deb)
echo "package: $deb"

# Kept warning: initial-upload-closes-no-bugs (the package is not uploaded to
# Debian, so its first changelog entry closes no request-for-packaging bug).
lintian --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs "$deb" 2>&1 |
    grep -v 'running with root privileges' || true
lintian --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs "$deb" >/dev/null 2>&1 ||
    fail "lintian found errors or warnings"
echo "lintian: no errors, no warnings"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
usr="$root/usr"

desktop-file-validate "$usr/share/applications/org.varnel.Varnel.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$usr/share/metainfo/org.varnel.Varnel.metainfo.xml" ||
    fail "AppStream data"
mkdir -p "$root/mime/packages"
cp "$usr/share/mime/packages/org.varnel.Varnel.xml" "$root/mime/packages/"
# (It notes that the folder is not one the desktop searches.)
update-mime-database "$root/mime" >/dev/null 2>&1 || fail "file types"
grep -q "text/x-srecord" "$root/mime/magic" || fail "S-record images are not recognised by content"
for type in application/x-varnel-oem text/x-srecord text/x-varnel-pda; do
    grep -q "^$type\$" "$root/mime/types" || fail "file type $type not declared"
done

# The programs, from a directory that is not the source or build tree, on a
# machine of their own.
cd "$root"
export XDG_STATE_HOME="$root/state" XDG_RUNTIME_DIR="$root/run" QT_QPA_PLATFORM=offscreen
unset VARNEL_MACHINE VARNEL_TRACE
mkdir -m 0700 "$XDG_RUNTIME_DIR"
expect() {
    what=$1
    pattern=$2
    shift 2
    out=$("$@" 2>&1) || fail "$what: exit code $?: $out"
    printf '%s\n' "$out" | grep -q -- "$pattern" || fail "$what: no \"$pattern\" in: $out"
    echo "ok: $what"
}
expect "varnel-cli --version" "^varnel-cli $version\$" "$usr/bin/varnel-cli" --version
expect "varnel --version" "^varnel $version\$" "$usr/bin/varnel" --version
expect "varnel-cli adapters on a fresh machine" "802.11b Wireless LAN PC Card" "$usr/bin/varnel-cli" adapters
expect "varnel --help" "^Usage: varnel" "$usr/bin/varnel" --help
# The installed sample release updates the simulated card.
sample="$usr/share/varnel/examples/release/OEMRelease.oem"
expect "varnel-cli update --dry-run of the installed sample release" "^Update Information" \
    "$usr/bin/varnel-cli" update --dry-run --oem "$sample"
expect "varnel-cli update of the installed sample release" "Update Successful!" \
    "$usr/bin/varnel-cli" update --yes --oem "$sample"

for page in varnel varnel-cli; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man page $page(1): $warnings"
    LC_ALL=C.UTF-8 man -l "$usr/share/man/man1/$page.1.gz" | grep -q "^NAME" || fail "man page $page(1) is empty"
    echo "ok: man -l $page.1.gz"
done

# The completion: commands, a command's options, files by type.
completion=/usr/share/bash-completion/bash_completion
[ -r "$completion" ] || fail "bash-completion is not installed"
mkdir -p files
touch files/a.hex files/b.pda files/c.oem files/d.txt
complete_line() {
    bash -c '. "$1"; . "$2"; shift 2
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _varnel_cli varnel-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' \
        _ "$completion" "$usr/share/bash-completion/completions/varnel-cli" "$@"
}
check_completion() {
    expected=$1
    shift
    got=$(complete_line "$@")
    [ "$got" = "$expected" ] || fail "completing '$*': got '$got', expected '$expected'"
    echo "ok: completing '$*'"
}
check_completion "info " varnel-cli image i
check_completion "--oem " varnel-cli update --o
check_completion "files/c.oem " varnel-cli update --oem files/
check_completion "files/a.hex files/b.pda " varnel-cli update files/
check_completion "files/b.pda " varnel-cli pda show files/
check_completion "--force " varnel-cli machine init --f
check_completion "restore " varnel-cli pda res
