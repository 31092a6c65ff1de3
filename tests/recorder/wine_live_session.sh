#!/usr/bin/env bash
# A live session of chessrec.exe under wine, on its default port COM1: boardsim, built for
# this machine, plays samples/opera_game.txt on a pseudo-terminal, and the wine prefix's
# com1 points at it. Twice: once stopped by Ctrl-C (SIGINT to the recorder) while boardsim
# holds the line open, once ended by boardsim hanging up. Each time the console, the
# recorder's answers to the board and the PGN file are checked against the sample, and the
# record file of the second session is replayed. A third session is killed (SIGKILL) with a
# game in progress, and the next start in its folder puts that game into its PGN file.
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
script="$work/script.txt"

# One session in WORK/NAME; boardsim plays the script named in script with the options given. Leaves the recorder's and
# boardsim's process ids in recorder and board, and boardsim's line in device.
start_session() {  # NAME BOARDSIM-OPTIONS...
    local dir="$work/$1"
    shift
    mkdir -p "$dir"
    "$boardsim" live "$script" --gap 0 "$@" >"$dir/board.txt" 2>"$dir/board-err.txt" &
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
    # games saved at its end. The recorder joins folder and name with the system's separator.
    local session="chessrec: session 000 in $dir: chessrec.000.pgn, .log and .rec; board on COM1:"
    printf '%s\nchessrec: 2 games saved in %s\n' "$session" "$dir\\chessrec.000.pgn" |
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

# Killed with a game in progress: the Opera Game saved, two moves of the next game played.
# The next start in the same folder (a replay of the killed session's record) finds the game
# in progress on disk, appends it to session 000's PGN file, and takes number 001; the
# record file of the dead session is left as it was.
{
    cat "$samples/opera_game.txt"
    echo "e2e4 e7e5"
    echo "x:FF"
} >"$work/killed-script.txt"
script="$work/killed-script.txt"
start_session killed --hold
dir="$work/killed"
kill -KILL "$recorder"
wait_end "$recorder" code || fail "killed: the recorder did not end"
wait_end "$board" code || fail "killed: boardsim did not end when the line was let go"
{
    cat "$samples/opera_game.out"
    printf '1. e4\n1... e5\n'
} >"$work/killed.out"
cmp -s "$dir/out.txt" "$work/killed.out" || fail "killed: console differs"
[ -f "$dir/chessrec.000.current.pgn" ] || fail "killed: no game in progress on disk"
cp "$dir/chessrec.000.rec" "$work/killed.rec"
CHESSREC_DIR="$dir" "${emulator[@]}" "$chessrec" "$dir/chessrec.000.rec" \
    >"$dir/restart-out.txt" 2>"$dir/restart-err.txt" || fail "restart: exit code $?"
{
    echo "chessrec: recovered the game in progress of session 000 into $dir\\chessrec.000.pgn"
    echo "chessrec: session 001 in $dir: chessrec.001.pgn and .log; replay of $dir/chessrec.000.rec"
    echo "chessrec: 1 game saved in $dir\\chessrec.001.pgn;" \
        "a replay does not save the game in progress at its end"
} | cmp -s - "$dir/restart-err.txt" || fail "restart: other lines on standard error"
cmp -s "$dir/restart-out.txt" "$work/killed.out" || fail "restart: the replay's console differs"
{
    cat "$samples/opera_game.pgn"
    printf "\r\n${tags}1. e4 e5 *\r\n\r\n"
} | cmp -s - "$dir/chessrec.000.pgn" || fail "restart: the recovered PGN file differs"
[ ! -e "$dir/chessrec.000.current.pgn" ] || fail "restart: the game in progress is left"
cmp -s "$dir/chessrec.000.rec" "$work/killed.rec" || fail "restart: the record file changed"
cmp -s "$dir/chessrec.001.pgn" "$samples/opera_game.pgn" || fail "restart: session 001 differs"
"${emulator[@]}" "$(dirname "$chessrec")/pgnindex.exe" "$dir/chessrec.000.pgn" \
    >"$dir/index-out.txt" 2>"$dir/index-err.txt" || fail "pgnindex: exit code $?"
[ ! -s "$dir/index-err.txt" ] || fail "pgnindex: errors reading the recovered file"
[ "$(wc -l <"$dir/index-out.txt")" = 2 ] || fail "pgnindex: not two games"
echo "two live sessions on COM1 recorded, saved and replayed; a killed one recovered"
