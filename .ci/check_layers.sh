#!/usr/bin/env bash
# Checks the include rules of the sources:
#   - the folders of src/ form layers, lowest first, and a file includes headers of its own
#     layer and of those below it only (tools/, tests/, fuzz/ and bench/ are above them all);
#   - only src/platform includes the operating system's headers; a test that must reach the
#     system itself says so in its name, *_posix_test.cpp (or *_win32_test.cpp).
# Every violation is printed as FILE:LINE: what is wrong; any violation fails the run.
#
#   .ci/check_layers.sh [DIR...]     DIR: folders to check (default: src tools tests fuzz bench)
set -euo pipefail
cd "$(dirname "$0")/.."

layers=(platform chess game session pgn board recorder live)

# The rank of a layer, or nothing for a folder that is not one.
rank_of() {
    local i
    for i in "${!layers[@]}"; do
        if [ "${layers[$i]}" = "$1" ]; then
            echo "$i"
            return
        fi
    done
}

# Headers that belong to an operating system, not to C or C++.
os_header='^(unistd\.h|fcntl\.h|termios\.h|poll\.h|pthread\.h|signal\.h|dirent\.h|pty\.h|'
os_header+='dlfcn\.h|sched\.h|semaphore\.h|spawn\.h|pwd\.h|grp\.h|syslog\.h|libgen\.h|'
os_header+='netdb\.h|sys/.*|arpa/.*|netinet/.*|linux/.*|asm/.*|'
os_header+='windows\.h|winbase\.h|winsock2?\.h|ws2tcpip\.h|io\.h|direct\.h|process\.h|'
os_header+='shlwapi\.h|conio\.h|tchar\.h)$'

dirs=("$@")
if [ ${#dirs[@]} -eq 0 ]; then
    dirs=(src tools tests fuzz bench)
fi

failures=0
fail() {
    echo "$1" >&2
    failures=$((failures + 1))
}

while IFS= read -r file; do
    own=""
    own_rank=""
    if [[ "$file" == src/* ]]; then
        own="${file#src/}"
        own="${own%%/*}"
        own_rank="$(rank_of "$own")"
        if [ -z "$own_rank" ]; then
            fail "$file: src/$own is not a layer (check_layers.sh lists them in order)"
            continue
        fi
    fi
    while IFS=: read -r line text; do
        [[ "$text" =~ include[[:space:]]*([<\"])([^>\"]*) ]] || continue
        header="${BASH_REMATCH[2]}"
        if [ "${BASH_REMATCH[1]}" = "<" ]; then
            if [ "$own" != platform ] && [[ "$header" =~ $os_header ]] &&
                [[ "$file" != *_posix_test.cpp ]] && [[ "$file" != *_win32_test.cpp ]]; then
                fail "$file:$line: includes the system header <$header> (only src/platform may)"
            fi
            continue
        fi
        [ -n "$own" ] || continue
        layer="${header%%/*}"
        if [ "$layer" = "$header" ]; then
            continue  # a header beside the file
        fi
        rank="$(rank_of "$layer")"
        if [ -z "$rank" ]; then
            fail "$file:$line: includes \"$header\", which is in no layer of src/"
        elif [ "$rank" -gt "$own_rank" ]; then
            fail "$file:$line: includes \"$header\": $layer is above $own"
        fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" || true)
done < <(find "${dirs[@]}" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) |
    sort)

if [ "$failures" -gt 0 ]; then
    echo "check_layers: $failures violation(s); layers, lowest first: ${layers[*]}" >&2
    exit 1
fi
echo "check_layers: ${dirs[*]}: the layers hold (${layers[*]})"
