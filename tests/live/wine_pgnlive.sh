#!/usr/bin/env bash
# pgnlive.exe under wine, publishing three boards while their recorders write: three Linux
# boardsims play on pseudo-terminals that the wine prefix maps to COM3, COM4 and COM5, each
# recorded by a chessrec.exe into its own folder, and pgnlive.exe watches the folders with
# --out and --listen. Board 1 plays the Opera Game and starts a new game; board 2 plays it,
# then a second game of some 440 moves, with a take-back, that stays in progress; board 3
# is reset ten times (ten saves of an empty game) before its first moves. Boards 1 and 2
# play without a pause, so that game-in-progress writes come while pgnlive still reads the
# one before; board 3 pauses a little, so that its saves come while pgnlive reads its PGN
# file (it has no game in progress to show). On Windows a reader's handle keeps the
# recorder from replacing a file or opening it unshared for a while: should a recorder's
# write fail for it, its standard error says "cannot keep the game in progress" or "Unable
# to save game".
#
# Checks: pgnlive's files (game-1.pgn with the mate as '#' and 1-0, game-2.pgn with every
# move of the second game, game-3.pgn, games.pgn) and /games.pgn over HTTP, the same bytes;
# the recorders' consoles, saves and standard error (their account only); the board folders
# hold the recorders' files only; every program ends at its stop with exit code 0.
#
#   wine_pgnlive.sh BOARDSIM CHESSREC_EXE PGNLIVE_EXE SAMPLES WORK EMULATOR...
#
# EMULATOR is wine-run.sh with --prefix PREFIX. WORK is emptied first. Every wait has a
# deadline; the programs started here are killed when the script ends, whatever the outcome.
# Exit code 77 (skipped) when curl is missing.
set -euo pipefail

boardsim=$1 chessrec=$2 pgnlive=$3 samples=$4 work=$5
shift 5
emulator=("$@")
prefix=
for ((i = 0; i + 1 < ${#emulator[@]}; ++i)); do
    [ "${emulator[i]}" = --prefix ] && prefix=${emulator[i + 1]}
done
[ -n "$prefix" ] || { echo "the emulator names no wine prefix (--prefix DIR)" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is missing: skipped" >&2; exit 77; }
deadline=60 # seconds, for any one wait

rm -rf "$work"
mkdir -p "$work/logs"
logs=$work/logs
pids=()
code= # the exit code of the last program waited for (wait_end)
cleanup() {
    for pid in "${pids[@]}"; do
        kill -9 "$pid" 2>/dev/null || true
    done
    rm -f "$prefix"/dosdevices/com{3,4,5}
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for file in "$logs"/*.txt; do
        echo "--- $file" >&2
        cat -A "$file" >&2
    done
    exit 1
}

# Waits until the file holds the text count times (default once).
wait_for() { # FILE TEXT [COUNT]
    local end=$((SECONDS + deadline))
    until [ "$(grep -cF -- "$2" "$1" 2>/dev/null || true)" -ge "${3:-1}" ] 2>/dev/null; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.02
    done
}

# Waits until the file holds the bytes of the other.
wait_same() { # FILE EXPECTED
    local end=$((SECONDS + deadline))
    until cmp -s "$1" "$2"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.05
    done
}

# Waits for the end of a child of this shell; its exit code goes to the variable named.
wait_end() { # PID VARIABLE
    local end=$((SECONDS + deadline))
    while kill -0 "$1" 2>/dev/null; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.02
    done
    local status=0
    wait "$1" || status=$?
    printf -v "$2" '%s' "$status"
}

# The boards' scripts, each with a 0xFF at its end that the recorder answers once it has
# taken everything before it, and the pause between their events.
{
    cat "$samples/opera_game.txt"
    echo "x:FF"
} >"$work/board1.txt"
{
    cat "$samples/opera_game.txt"
    # 1. e4 c5 ... 16. fxe6, taken back: 16. Nbd4 exd4 ... 21. Rxd2; then a king and a
    # rook go to and fro (Kh8 Rg1 Kg8 Rh1), 400 moves more: each move is a write of the game
    # in progress, and the more writes, the surer a reader in their way shows.
    echo "e2e4 c7c5 g1f3 d7d6 d2d4 c5d4 f3d4 g8f6 b1c3 a7a6 c1e3 e7e5 d4b3 c8e6 f2f3 f8e7"
    echo "d1d2 e8g8 e1c1 b8d7 g2g4 b7b5 g4g5 b5b4 c3e2 f6e8 f3f4 a6a5 f4f5 a5a4 f5e6 t"
    echo "b3d4 e5d4 e2d4 d7c5 d4e6 f7e6 e3c5 d6c5 f1c4 d8d2 d1d2"
    for _ in {1..100}; do echo "g8h8 h1g1 h8g8 g1h1"; done
    echo "x:FF"
} >"$work/board2.txt"
resets=10
{
    for ((i = 0; i < resets; ++i)); do echo n; done
    echo "e2e4 e7e5 g1f3 x:FF"
} >"$work/board3.txt"
gap=([1]=0 [2]=0 [3]=20)

tags='[Event "?"]\r\n[Site "?"]\r\n[Date "????.??.??"]\r\n[Round "?"]\r\n'
tags+='[White "White"]\r\n[Black "Black"]\r\n[Result "*"]\r\n'
# Board 2's second game on one line: its files break it into lines, which flat undoes.
second='1. e4 c5 2. Nf3 d6 3. d4 cxd4 4. Nxd4 Nf6 5. Nc3 a6 6. Be3 e5 7. Nb3 Be6 8. f3 Be7 '
second+='9. Qd2 O-O 10. O-O-O Nbd7 11. g4 b5 12. g5 b4 13. Ne2 Ne8 14. f4 a5 15. f5 a4 '
second+='16. Nbd4 exd4 17. Nxd4 Nc5 18. Nxe6 fxe6 19. Bxc5 dxc5 20. Bc4 Qxd2+ 21. Rxd2'
for ((move = 22; move < 222; move += 2)); do
    second+=" Kh8 $move. Rg1 Kg8 $((move + 1)). Rh1"
done
second+=' *\r\n'
flat() { # FILE: its text with every run of line ends and blanks as one blank
    tr '\r\n' '  ' <"$1" | tr -s ' '
}
third='1. e4 e5 2. Nf3 *\r\n'
# What the recorders save at each new game and at their stop, two empty lines between
# games: the Opera Game, then the game after it (empty on board 1; board 2's on one line);
# ten empty games on board 3, then its game.
{
    cat "$samples/opera_game.pgn"
    printf '%b' "\r\n$tags\r\n *\r\n\r\n"
} >"$work/saved1.pgn"
{
    cat "$samples/opera_game.pgn"
    printf '%b' "\r\n$tags\r\n$second\r\n"
} >"$work/saved2.pgn"
{
    printf '%b' "$tags\r\n *\r\n\r\n"
    for ((i = 1; i < resets; ++i)); do printf '%b' "\r\n$tags\r\n *\r\n\r\n"; done
    printf '%b' "\r\n$tags\r\n$third\r\n"
} >"$work/saved3.pgn"
saves=([1]=2 [2]=2 [3]=$((resets + 1)))
# What pgnlive publishes: board 1 shows the finished Opera Game (mate and result added),
# boards 2 and 3 their games in progress; each with its Board tag.
sed -e 's/^\[Result "\*"\]\r$/[Result "1-0"]\r\n[Board "1"]\r/' -e 's/ Rd8+ \*\r$/ Rd8# 1-0\r/' \
    "$samples/opera_game.pgn" >"$work/game-1.pgn"
grep -q 'Rd8# 1-0' "$work/game-1.pgn" || fail "the sample's PGN file is not the Opera Game's"
printf '%b' "${tags}[Board \"2\"]\r\n\r\n$second\r\n" >"$work/game-2.pgn"
printf '%b' "${tags}[Board \"3\"]\r\n\r\n$third\r\n" >"$work/game-3.pgn"
# What the recorders print.
cp "$samples/opera_game.out" "$work/console1.txt"
{
    for ((i = 0; i < resets; ++i)); do echo "New game"; done
    printf '1. e4\n1... e5\n2. Nf3\n'
} >"$work/console3.txt"

# pgnlive first, so that it sees every write.
mkdir -p "$work"/b{1,2,3}
"${emulator[@]}" "$pgnlive" --out "$work/out" --listen 127.0.0.1:0 "$work"/b{1,2,3} \
    >"$logs/pgnlive-out.txt" 2>"$logs/pgnlive-err.txt" &
live=$!
pids+=("$live")
wait_for "$logs/pgnlive-err.txt" "pgnlive: writing " || fail "pgnlive did not start"
port=$(sed -n 's|^pgnlive: listening on http://127\.0\.0\.1:\([0-9]*\)/:.*|\1|p' \
    "$logs/pgnlive-err.txt")
[ -n "$port" ] || fail "pgnlive named no port"

# Board N: boardsim on a pseudo-terminal that COM(N+2) maps to, and its recorder. The
# prefix's server runs (pgnlive's), so the links stay as made.
declare -A board recorder
for n in 1 2 3; do
    "$boardsim" live "$work/board$n.txt" --gap "${gap[n]}" --hold >"$logs/board$n.txt" \
        2>"$logs/board$n-err.txt" &
    board[$n]=$!
    pids+=("${board[$n]}")
    wait_for "$logs/board$n.txt" "device " || fail "boardsim $n printed no device"
    ln -sfn "$(sed -n 's/^device //p' "$logs/board$n.txt")" "$prefix/dosdevices/com$((n + 2))"
    CHESSREC_DIR="$work/b$n" CHESSREC_PORT="COM$((n + 2))" "${emulator[@]}" "$chessrec" \
        >"$logs/recorder$n-out.txt" 2>"$logs/recorder$n-err.txt" &
    recorder[$n]=$!
    pids+=("${recorder[$n]}")
done
for n in 1 2 3; do
    wait_for "$logs/board$n.txt" "received 99" 2 || fail "recorder $n did not take its script"
done

# Every move reaches pgnlive's files; games.pgn follows them.
wait_same "$work/out/game-1.pgn" "$work/game-1.pgn" || fail "pgnlive's game-1.pgn differs"
wait_same "$work/out/game-3.pgn" "$work/game-3.pgn" || fail "pgnlive's game-3.pgn differs"
end=$((SECONDS + deadline))
until [ "$(flat "$work/out/game-2.pgn" 2>/dev/null)" = "$(flat "$work/game-2.pgn")" ]; do
    [ $SECONDS -lt $end ] || fail "pgnlive's game-2.pgn differs"
    sleep 0.05
done
mkdir "$work/shown"
cp "$work"/out/game-{1,2,3}.pgn "$work/shown/"
cat "$work"/shown/game-{1,2,3}.pgn >"$work/shown/games.pgn"
wait_same "$work/out/games.pgn" "$work/shown/games.pgn" || fail "pgnlive's games.pgn differs"

# The recorders, stopped by Ctrl-C, save their games; while pgnlive read, none of their
# writes failed.
for n in 1 2 3; do
    kill -INT "${recorder[$n]}"
    wait_end "${recorder[$n]}" code || fail "recorder $n did not end at Ctrl-C"
    [ "$code" = 0 ] || fail "recorder $n: exit code $code"
    wait_end "${board[$n]}" code || fail "boardsim $n did not end"
    err=$logs/recorder$n-err.txt
    ! grep -F "cannot keep the game in progress" "$err" ||
        fail "recorder $n could not keep its game in progress while pgnlive read"
    ! grep -F "Unable to save game" "$err" || fail "recorder $n could not save while pgnlive read"
    dir=$work/b$n
    {
        echo "chessrec: session 000 in $dir: chessrec.000.pgn, .log and .rec; board on COM$((n + 2))"
        echo "chessrec: ${saves[n]} games saved in $dir\\chessrec.000.pgn"
    } | cmp -s - "$err" || fail "recorder $n: other lines on standard error"
    if [ $n = 2 ]; then
        [ "$(flat "$dir/chessrec.000.pgn")" = "$(flat "$work/saved2.pgn")" ]
    else
        cmp -s "$dir/chessrec.000.pgn" "$work/saved$n.pgn"
    fi || fail "recorder $n: PGN file differs"
    # Nothing of pgnlive's in the folder, and nothing of the recorder's left behind.
    [ "$(ls "$dir" | tr '\n' ' ')" = "chessrec.000.log chessrec.000.pgn chessrec.000.rec " ] ||
        fail "board folder $n holds other files: $(ls "$dir")"
done
for n in 1 3; do
    cmp -s "$logs/recorder$n-out.txt" "$work/console$n.txt" || fail "recorder $n: console differs"
done

# Board 2's game as pgnlive shows it is the game as its recorder saved it (after the Opera
# Game and the line between them), with the Board tag.
tail -c +$(($(wc -c <"$samples/opera_game.pgn") + 3)) "$work/b2/chessrec.000.pgn" |
    sed 's/^\[Result "\*"\]\r$/&\n[Board "2"]\r/' | cmp -s - "$work/shown/game-2.pgn" ||
    fail "pgnlive's game-2.pgn is not the game its recorder saved"

# The boards' games stay on show once the recorders are gone; over HTTP, the same bytes.
for name in game-1.pgn game-2.pgn game-3.pgn games.pgn; do
    cmp -s "$work/out/$name" "$work/shown/$name" ||
        fail "pgnlive's $name changed at the recorders' end"
done
curl -sf --max-time 10 -o "$work/http-games.pgn" "http://127.0.0.1:$port/games.pgn" ||
    fail "GET /games.pgn failed"
cmp -s "$work/http-games.pgn" "$work/out/games.pgn" || fail "/games.pgn differs from games.pgn"

kill -INT "$live"
wait_end "$live" code || fail "pgnlive did not end at Ctrl-C"
[ "$code" = 0 ] || fail "pgnlive: exit code $code"
[ ! -s "$logs/pgnlive-out.txt" ] || fail "pgnlive wrote on standard output"
[ "$(grep -vc '^pgnlive: \(publishing\|listening\|writing\) ' "$logs/pgnlive-err.txt")" = 0 ] ||
    fail "pgnlive said more than its start"
echo "three boards recorded on COM3 to COM5 and published live by pgnlive; no write failed"
