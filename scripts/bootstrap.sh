#!/bin/sh
# Installs the Debian packages the build, the tests, the fuzzers and the
# benchmarks need. This is the one place that names them. Only what is
# missing is installed; as another user than root it prints the apt-get line
# to run and stops.
set -eu

PACKAGES="
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
libssl-dev
srecord
qt6-base-dev
fonts-liberation2
scdoc
dpkg-dev
lintian
desktop-file-utils
appstream
man-db
bash-completion
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing="$missing $p"
    fi
done

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Varnel needs these Debian packages. Run, then try again:" >&2
    echo "    sudo apt-get install -y$missing" >&2
    exit 1
fi

echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing
