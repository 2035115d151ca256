#!/bin/sh
# Installs the Debian packages the build, the tests, the fuzzers and the
# benchmarks need. This is the one place that names them. Only what is
# missing is installed; as another user than root it prints the commands to
# run and stops.
#   scripts/bootstrap.sh demo   what make demo and make build need
#   scripts/bootstrap.sh test   that, the package checkers, and the Windows
#                               cross compiler and wine for make windows and
#                               make test (the default)
set -eu

DEMO_PACKAGES="
cmake
make
g++
clang
libclang-rt-14-dev
binutils
libgtest-dev
libgmock-dev
libbenchmark-dev
libcli11-dev
nlohmann-json3-dev
libmd-dev
srecord
qt6-base-dev
libxcb1-dev
fonts-liberation2
scdoc
dpkg-dev
"

# The 32-bit Windows build and its tests: mingw-w64 (the -win32 compilers,
# objdump, windres) and wine with its 32-bit part, which needs the i386
# architecture, and wine's own fonts for the windows' dialog font. Where the
# machine cannot run 32-bit programs, the 64-bit test build of the same
# sources (the x86_64 compilers) runs under wine64, and the 32-bit installer
# is opened with 7-Zip and its script read with python3. The Windows
# installer: NSIS (makensis) and zip.
# The Debian package's checks: lintian, the desktop entry, the AppStream
# data, the man pages and the bash completion. The desktop program's
# windows under a real X server and window manager (its tests and make
# screenshots): Xvfb, openbox, xprop (x11-utils) and xdotool. The tree's own
# checks: shellcheck over the scripts, clang-tidy, clang-format.
TEST_PACKAGES="
lintian
desktop-file-utils
appstream
man-db
bash-completion
g++-mingw-w64-i686-win32
binutils-mingw-w64-i686
g++-mingw-w64-x86-64-win32
binutils-mingw-w64-x86-64
wine
wine32:i386
wine64
7zip
python3
fonts-wine
nsis
zip
xvfb
xauth
openbox
x11-utils
xdotool
shellcheck
clang-tidy
clang-format
"

case "${1:-test}" in
demo) PACKAGES=$DEMO_PACKAGES ;;
test) PACKAGES="$DEMO_PACKAGES $TEST_PACKAGES" ;;
*)
    echo "usage: $0 [demo|test]" >&2
    exit 2
    ;;
esac

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing="$missing $p"
    fi
done

[ -z "$missing" ] && exit 0

need_i386=false
case "$missing" in *:i386*)
    dpkg --print-foreign-architectures | grep -qx i386 || need_i386=true ;;
esac

if [ "$(id -u)" -ne 0 ]; then
    echo "Varnel needs these Debian packages. Run, then try again:" >&2
    if $need_i386; then
        echo "    sudo dpkg --add-architecture i386 && sudo apt-get update" >&2
    fi
    echo "    sudo apt-get install -y$missing" >&2
    exit 1
fi

echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
if $need_i386; then
    dpkg --add-architecture i386
fi
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing
