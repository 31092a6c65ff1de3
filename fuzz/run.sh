#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build, one after the other, each for SECONDS on a copy
# of its seed corpus (the repository's corpus is never written). Any finding (a crash, a
# failed property, a leak, a time-out, running out of memory) fails the run; the input
# that found it is kept in BUILD/fuzz/artifacts/.
#
#   fuzz/run.sh BUILD SECONDS [TARGET...]     TARGET: board_stream replay fen pgn_index
#                                             pgn_writer pgn_reader pairings (default: all)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ $# -lt 2 ]; then
    echo "usage: $0 BUILD SECONDS [TARGET...]" >&2
    exit 2
fi
build="$1"
seconds="$2"
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(board_stream replay fen pgn_index pgn_writer pgn_reader pairings)
fi

artifacts="$build/fuzz/artifacts"
mkdir -p "$artifacts"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Inputs longer than the capture buffer reach its edges; the others need no such length.
max_len() {
    case "$1" in
        board_stream | replay) echo 20000 ;;
        *) echo 4096 ;;
    esac
}

failed=()
for target in "${targets[@]}"; do
    binary="$build/fuzz/fuzz_$target"
    if [ ! -x "$binary" ]; then
        echo "fuzz: no $binary (build the fuzz build first)" >&2
        exit 2
    fi
    corpus="$work/$target"
    mkdir -p "$corpus"
    cp -R "$here/corpus/$target/." "$corpus/"
    echo "== fuzz_$target: $seconds s on a copy of fuzz/corpus/$target"
    if "$binary" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
        -max_len="$(max_len "$target")" -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$corpus" >"$work/$target.log" 2>&1; then
        grep -E '^(Done|stat::number_of_executed_units)' "$work/$target.log" || true
    else
        echo "fuzz: fuzz_$target found a fault:" >&2
        grep -v -E '^#[0-9]+' "$work/$target.log" | tail -n 60 >&2
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: findings in: ${failed[*]} (inputs in $artifacts)" >&2
    exit 1
fi
echo "fuzz: ${#targets[@]} targets ran without a finding"
