#!/usr/bin/env bash
# Checks what a user installs: a fresh build of the programs alone (-DBUILD_TESTING=OFF, so
# neither GoogleTest nor Google Benchmark is needed), `cmake --install` into a scratch
# prefix, the three programs, their manual pages and the documentation there, every manual
# page rendered by man without a warning, the installed recorder replaying the installed
# sample, and the Debian package from cpack holding the same files and a Depends line.
#
#   .ci/check_install.sh
#
# Needs cmake, g++, man (man-db), groff (groff-base), dpkg-deb (dpkg) and dpkg-shlibdeps
# (dpkg-dev). Builds with two jobs at most; everything goes into a temporary folder that is
# removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

fail() {
    echo "check_install: $*" >&2
    exit 1
}

for tool in cmake:cmake cpack:cmake man:man-db groff:groff-base dpkg-deb:dpkg \
    dpkg-shlibdeps:dpkg-dev; do
    command -v "${tool%%:*}" >/dev/null || fail "${tool%%:*} is missing (Debian package ${tool#*:})"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build=$work/build
prefix=$work/prefix

echo "== configure and build the programs alone"
cmake -S "$source_dir" -B "$build" -DBUILD_TESTING=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
    >"$work/configure.log" || { cat "$work/configure.log" >&2; fail "configure failed"; }
cmake --build "$build" -j2 >"$work/build.log" || { cat "$work/build.log" >&2; fail "build failed"; }

echo "== install into a scratch prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
    { cat "$work/install.log" >&2; fail "install failed"; }

programs=(bin/chessrec bin/pgnindex bin/boardsim)
pages=(share/man/man1/chessrec.1 share/man/man1/pgnindex.1 share/man/man1/boardsim.1)
# pgnlive is built where Boost's headers are (CI installs them).
if [ -x "$build/pgnlive" ]; then
    programs+=(bin/pgnlive)
    pages+=(share/man/man1/pgnlive.1)
fi
docs=(share/doc/chessrec/README.md share/doc/chessrec/opera_game.rec
    share/doc/chessrec/opera_game.txt)
for file in "${programs[@]}"; do
    [ -x "$prefix/$file" ] || fail "$file is not installed as a program"
done
expected=$(printf '%s\n' "${programs[@]}" "${pages[@]}" "${docs[@]}" | sort)
installed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
[ "$installed" = "$expected" ] || fail "the install holds other files:"$'\n'"$installed"

echo "== manual pages render without a warning"
for page in "${pages[@]}"; do
    # Any output on standard error (a warning of man or groff) fails the page.
    LC_ALL=C MANWIDTH=80 man --warnings -l "$prefix/$page" >"$work/page.txt" 2>"$work/page.err" ||
        fail "man cannot render $page"
    if [ -s "$work/page.err" ]; then
        cat "$work/page.err" >&2
        fail "man warns about $page"
    fi
    [ -s "$work/page.txt" ] || fail "$page renders empty"
done

echo "== the installed programs run"
for program in "${programs[@]}"; do
    "$prefix/$program" --help >"$work/help.txt" || fail "$program --help fails"
    grep -q '^Usage : ' "$work/help.txt" || fail "$program --help prints no usage"
done
mkdir "$work/session"
CHESSREC_DIR=$work/session "$prefix/bin/chessrec" "$prefix/share/doc/chessrec/opera_game.rec" \
    >"$work/replay.out" 2>"$work/replay.err" ||
    { cat "$work/replay.err" >&2; fail "the installed chessrec cannot replay the installed sample"; }
cmp -s "$work/replay.out" samples/opera_game.out ||
    fail "the replay of the installed sample differs from samples/opera_game.out"
grep -q "^chessrec: session 000 in $work/session: " "$work/replay.err" ||
    { cat "$work/replay.err" >&2; fail "the installed chessrec does not say where its files go"; }

echo "== Debian package"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package") \
    >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
debs=("$work"/package/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fail "cpack made no single .deb"
fi
deb=${debs[0]}
# Its regular files, below /usr, are those of the install.
packaged=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $NF }' | sed 's|^\./usr/||' | sort)
[ "$packaged" = "$expected" ] || fail "$(basename "$deb") holds other files:"$'\n'"$packaged"
depends=$(dpkg-deb -f "$deb" Depends)
[ -n "$depends" ] || fail "$(basename "$deb") has no Depends line"
echo "$(basename "$deb"): Depends: $depends"

echo "== install checks passed"
