#!/usr/bin/env bash
# A live session of chessrec.exe under wine, on its default port COM1: boardsim, built for
# this machine, plays samples/opera_game.txt on a pseudo-terminal, and the wine prefix's
# com1 points at it. Twice: once stopped by Ctrl-C (SIGINT to the recorder) while boardsim
# holds the line open, once ended by boardsim hanging up. Each time the console, the
# recorder's answers to the board and the PGN file are checked against the sample, and the
# record file of the second session is replayed.
#
#   wine_live_session.sh BOARDSIM CHESSREC_EXE SAMPLES WORK PREFIX EMULATOR...
#
# WORK is emptied first; PREFIX is the wine prefix that EMULATOR (wine-run.sh and its
# options) runs programs in. Every wait has a deadline; the programs started here are
# killed when the script ends, whatever the outcome.
set -euo pipefail

boardsim=$1 chessrec=$2 samples=$3 work=$4 prefix=$5
shift 5
emulator=("$@")
deadline=30  # seconds, for any one wait

rm -rf "$work"
mkdir -p "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill -9 "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for file in "$work"/*/*.txt; do
        echo "--- $file" >&2
        cat -A "$file" >&2
    done
    exit 1
}

# Waits until the file holds the text count times (default once).
wait_for() {  # FILE TEXT [COUNT]
    local end=$((SECONDS + deadline))
    until [ "$(grep -cF -- "$2" "$1" 2>/dev/null)" -ge "${3:-1}" ]; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.02
    done
}

# Waits for the end of a child of this shell; its exit code goes to the variable named.
wait_end() {  # PID VARIABLE
    local end=$((SECONDS + deadline))
    while kill -0 "$1" 2>/dev/null; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.02
    done
    local status=0
    wait "$1" || status=$?
    printf -v "$2" '%s' "$status"
}

# The tags of every game the recorder saves, and the PGN file of a session that played the
# Opera Game and was ended during the next game, before any move of it.
tags='[Event "?"]\r\n[Site "?"]\r\n[Date "????.??.??"]\r\n[Round "?"]\r\n'
tags+='[White "White"]\r\n[Black "Black"]\r\n[Result "*"]\r\n\r\n'
{
    cat "$samples/opera_game.pgn"
    printf "\r\n$tags *\r\n\r\n"
} >"$work/expected.pgn"
# The script, and a 0xFF after it that the recorder answers once it has taken everything.
{
    cat "$samples/opera_game.txt"
    echo "x:FF"
} >"$work/script.txt"

# One session in WORK/NAME; boardsim gets the options given. Leaves the recorder's and
# boardsim's process ids in recorder and board, and boardsim's line in device.
start_session() {  # NAME BOARDSIM-OPTIONS...
    local dir="$work/$1"
    shift
    mkdir -p "$dir"
    "$boardsim" live "$work/script.txt" --gap 0 "$@" >"$dir/board.txt" 2>"$dir/board-err.txt" &
    board=$!
    pids+=("$board")
    wait_for "$dir/board.txt" "device " || fail "boardsim printed no device"
    device=$(sed -n 's/^device //p' "$dir/board.txt")
    # The prefix's server resets com1 when it starts: it must run before the link is made.
    "${emulator[@]}" "$chessrec" --help >/dev/null 2>&1 || fail "chessrec.exe does not run"
    ln -sfn "$device" "$prefix/dosdevices/com1"
    CHESSREC_DIR="$dir" "${emulator[@]}" "$chessrec" >"$dir/out.txt" 2>"$dir/err.txt" &
    recorder=$!
    pids+=("$recorder")
    # The answers to the first time message and to the last byte: all was taken.
    wait_for "$dir/board.txt" "received 99" 2 || fail "$1: the recorder did not answer"
    [ "$(readlink "$prefix/dosdevices/com1")" = "$device" ] || fail "com1 was reset"
}

check_files() {  # NAME EXPECTED-CONSOLE
    local dir="$work/$1"
    cmp -s "$dir/out.txt" "$2" || fail "$1: console differs from $2"
    # Standard error holds the recorder's own account only: the session at its start and the
    # games saved at its end.
    local session="chessrec: session 000 in $dir: chessrec.000.pgn, .log and .rec; board on COM1:"
    printf '%s\nchessrec: 2 games saved in %s\n' "$session" "$dir/chessrec.000.pgn" |
        cmp -s - "$dir/err.txt" || fail "$1: the recorder wrote errors"
    cmp -s "$dir/chessrec.000.pgn" "$work/expected.pgn" || fail "$1: PGN file differs"
    printf 'device %s\nreceived 99\nreceived 99\n' "$device" |
        cmp -s - "$dir/board.txt" || fail "$1: boardsim saw other answers"
}

# Stopped by Ctrl-C: wine turns SIGINT into the console's Ctrl-C event.
start_session stop --hold
wait_for "$work/stop/out.txt" "New game" || fail "stop: the moves were not printed"
kill -INT "$recorder"
wait_end "$recorder" code || fail "stop: the recorder did not end at Ctrl-C"
[ "$code" = 0 ] || fail "stop: exit code $code"
# boardsim ends when the recorder lets the line go.
wait_end "$board" code || fail "stop: boardsim did not end"
[ "$code" = 0 ] || fail "stop: boardsim exit code $code"
check_files stop "$samples/opera_game.out"

# Ended by the line's hang-up.
start_session hangup
wait_end "$board" code || fail "hangup: boardsim did not hang up"
[ "$code" = 0 ] || fail "hangup: boardsim exit code $code"
wait_end "$recorder" code || fail "hangup: the recorder did not end at the hang-up"
[ "$code" = 0 ] || fail "hangup: exit code $code"
{
    cat "$samples/opera_game.out"
    echo "Unable to read"
} >"$work/hangup.out"
check_files hangup "$work/hangup.out"

# The record file of the live session replays to the same console.
mkdir -p "$work/replay"
CHESSREC_DIR="$work/replay" "${emulator[@]}" "$chessrec" "$work/hangup/chessrec.000.rec" \
    >"$work/replay/out.txt" 2>"$work/replay/err.txt" || fail "replay: exit code $?"
cmp -s "$work/replay/out.txt" "$samples/opera_game.out" || fail "replay: console differs"
echo "two live sessions on COM1 recorded, saved and replayed"
