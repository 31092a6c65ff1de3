#!/usr/bin/env bash
# pgnlive under load, on this machine only (127.0.0.1):
#   1. pgnlive over 64 boards, each with a game in progress of 60 to 80 moves (made by
#      live_bench --prepare), and wrk (Debian's package) against /games.pgn: 2 threads,
#      64 and then 256 connections, then 64 connections with If-None-Match (the 304 path);
#      requests per second for each;
#   2. the recorders' own move latency, without and with pgnlive (recorders_bench).
#
#   bench/live_load.sh BUILD_DIR [SECONDS]      SECONDS: each wrk run (default 15)
#
# Every program it starts is ended at the end, and its scratch folder removed.
set -euo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
    echo "Usage : bench/live_load.sh BUILD_DIR [SECONDS]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-15}
for program in pgnlive bench/live_bench bench/recorders_bench; do
    if [ ! -x "$build/$program" ]; then
        echo "live_load.sh: $build/$program is not built" \
             "(cmake --build $1 -j2 --target live_bench recorders_bench)" >&2
        exit 1
    fi
done
if ! command -v wrk > /dev/null; then
    echo "live_load.sh: wrk is not installed (sudo apt-get install wrk)" >&2
    exit 1
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/chessrec-live-load.XXXXXX")
pgnlive=""
finish() {
    if [ -n "$pgnlive" ]; then
        kill -INT "$pgnlive" 2> /dev/null || true
        wait "$pgnlive" 2> /dev/null || true
    fi
    rm -rf "$scratch"
}
trap finish EXIT
# A signal ends the script through its exit, so that finish runs then too.
trap 'exit 130' INT TERM HUP PIPE

echo "load before: $(uptime)"
"$build/bench/live_bench" --prepare "$scratch/boards" 64
folders=()
for board in $(seq 1 64); do
    folders+=("$scratch/boards/b$board")
done
"$build/pgnlive" --listen 127.0.0.1:0 "${folders[@]}" 2> "$scratch/pgnlive.err" &
pgnlive=$!
port=""
for _ in $(seq 1 400); do
    port=$(sed -n 's|^pgnlive: listening on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' \
               "$scratch/pgnlive.err")
    [ -n "$port" ] && break
    sleep 0.05
done
if [ -z "$port" ]; then
    echo "live_load.sh: pgnlive did not start:" >&2
    cat "$scratch/pgnlive.err" >&2
    exit 1
fi

# The response head of GET /games.pgn (extra headers as arguments): its lines, CR removed.
head_of_games() {
    local line
    exec 3<> "/dev/tcp/127.0.0.1/$port"
    printf 'GET /games.pgn HTTP/1.1\r\nHost: 127.0.0.1\r\n' >&3
    for header in "$@"; do
        printf '%s\r\n' "$header" >&3
    done
    printf 'Connection: close\r\n\r\n' >&3
    while IFS= read -r -t 5 line <&3; do
        line=${line%$'\r'}
        [ -z "$line" ] && break
        echo "$line"
    done
    exec 3<&-
}
head=$(head_of_games)
etag=$(sed -n 's/^[Ee][Tt][Aa][Gg]: *//p' <<< "$head")
size=$(sed -n 's/^[Cc]ontent-[Ll]ength: *//p' <<< "$head")
head304=$(head_of_games "If-None-Match: $etag")
status304=${head304%%$'\n'*}
echo "GET /games.pgn: $size bytes, ETag $etag; with If-None-Match: $status304"

declare -A rates
run_wrk() {
    local name=$1
    shift
    local report line
    report=$(wrk --latency -t2 -d"${seconds}s" "$@" "http://127.0.0.1:$port/games.pgn")
    while IFS= read -r line; do
        echo "    $line"
    done <<< "$report"
    rates[$name]=$(sed -n 's/^Requests\/sec: *//p' <<< "$report")
}
echo
echo "wrk -t2 -c64 -d${seconds}s GET /games.pgn"
run_wrk c64 -c64
echo "wrk -t2 -c256 -d${seconds}s GET /games.pgn"
run_wrk c256 -c256
echo "wrk -t2 -c64 -d${seconds}s GET /games.pgn with If-None-Match (304)"
run_wrk c64-304 -c64 -H "If-None-Match: $etag"

kill -INT "$pgnlive"
wait "$pgnlive" || true
pgnlive=""

echo
echo "| GET /games.pgn ($size bytes, 64 boards), wrk -t2 -d${seconds}s | Requests/s |"
echo "|---|---|"
echo "| 64 connections | ${rates[c64]} |"
echo "| 256 connections | ${rates[c256]} |"
echo "| 64 connections, If-None-Match (304) | ${rates[c64-304]} |"
echo

"$build/bench/recorders_bench" --boards 64 --moves 640 --gap 20
echo
echo "load after: $(uptime)"
