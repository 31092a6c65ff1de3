#!/bin/sh
# Runs a Windows program of the cross build under wine: wine-run.sh [--prefix DIR] PROGRAM ARGS...
#
# The wine prefix is DIR (the toolchain passes the build folder's wineprefix), else
# $CHESSREC_WINEPREFIX, else ./wineprefix. The first run creates it (about 20 s); every run
# then shares one wineserver for the prefix, started here with every inherited descriptor
# closed (a server or wine service holding a test's output pipe or the lock below would
# keep ctest waiting), and ending by itself two minutes after its last program.
# No window is ever shown (no DISPLAY) and wine's own messages are off. The error box of
# the programs is off unless CHESSREC_NO_ERROR_BOX is already set.
set -e
prefix="${CHESSREC_WINEPREFIX:-$PWD/wineprefix}"
if [ "$1" = "--prefix" ]; then
    prefix="$2"
    shift 2
fi
if [ $# -eq 0 ]; then
    echo "usage: wine-run.sh [--prefix DIR] PROGRAM ARGS..." >&2
    exit 2
fi
# Only the 64-bit loader is installed; "wine" would look for the 32-bit one.
loader=/usr/lib/wine/wine64
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export CHESSREC_NO_ERROR_BOX="${CHESSREC_NO_ERROR_BOX-1}"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
# The warm-up never fails the run: should "wineserver -k0" miss a server that runs, or one
# start meanwhile, starting a second one fails; the program starts a server itself if none
# is there. Only a server started here boots the prefix (which resets its serial ports).
(
    flock 9
    if ! wineserver -k0 2>/dev/null &&
        wineserver -p120 </dev/null >/dev/null 2>&1 9>&-; then
        "$loader" wineboot -u </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$WINEPREFIX.lock" || true
exec "$loader" "$@"
