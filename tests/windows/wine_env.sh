# shellcheck shell=sh
# Sourced by the scripts that run a Windows build under wine: chooses the
# wine that runs it from the program's own header.
#   WINE_PROGRAM=PROGRAM.exe; . tests/windows/wine_env.sh
# Sets WINE (the loader to run programs with), WINE_BITS (32 or 64) and
# REG_VIEW (the registry view its programs read), and exports WINEARCH for a
# new prefix and WINELOADER. The shipped build is 32-bit and runs under the
# 32-bit loader (Debian's wine command tries it first); the 64-bit test build,
# for machines that cannot run 32-bit programs, runs under wine64 directly
# (the wine command would try the 32-bit loader and fail).
# WINE_BITS and REG_VIEW are read by the scripts that source this.
# shellcheck disable=SC2034
case "$(objdump -f "$WINE_PROGRAM" 2>/dev/null | sed -n 's/.*file format //p')" in
pei-x86-64)
    WINE=/usr/lib/wine/wine64
    WINE_BITS=64
    REG_VIEW=/reg:64
    WINEARCH=win64
    ;;
*)
    WINE=/usr/lib/wine/wine
    WINE_BITS=32
    REG_VIEW=/reg:32
    WINEARCH=win32
    ;;
esac
WINELOADER=$WINE
export WINEARCH WINELOADER
