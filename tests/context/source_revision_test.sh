#!/usr/bin/env bash
# cmake/Revision.cmake as the build runs it: the commit of a git work tree whose top is the source folder, unknown
# for a folder that is no git tree or only lies inside one (a copy of the sources, the source package), the
# revision given instead when there is one, and the generated file left alone when its text would not change.
# Usage: source_revision_test.sh CMAKE REVISION_SCRIPT
set -uo pipefail
cmake=$1 script=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What the generated file says the revision is.
revision_of() { # SOURCE_DIR [REVISION]
    "$cmake" -DSOURCE_DIR="$1" -DOUTPUT="$work/out.cpp" -DREVISION="${2:-}" -P "$script" >"$work/log" 2>&1 ||
        { echo "cmake failed: $(cat "$work/log")"; return; }
    sed -n 's/.*QStringLiteral("\(.*\)").*/\1/p' "$work/out.cpp"
}

mkdir -p "$work/repo/copy" "$work/plain"
git -C "$work/repo" init -q
git -C "$work/repo" -c user.name=t -c user.email=t@example.net commit -q --allow-empty -m first
head=$(git -C "$work/repo" rev-parse HEAD)
[ ${#head} -eq 40 ] || fail "no commit to test with"

[ "$(revision_of "$work/repo")" = "$head" ] || fail "a work tree's top gives $(revision_of "$work/repo"), not $head"
[ "$(revision_of "$work/repo/copy")" = unknown ] || fail "a folder inside a work tree gives $(revision_of "$work/repo/copy")"
[ "$(revision_of "$work/plain")" = unknown ] || fail "a folder outside git gives $(revision_of "$work/plain")"
[ "$(revision_of "$work/plain" 1.0-3+abc)" = 1.0-3+abc ] || fail "a revision given is not used"

revision_of "$work/repo" >/dev/null
touch -d '2000-01-01' "$work/out.cpp"
revision_of "$work/repo" >/dev/null
[ "$(stat -c %Y "$work/out.cpp")" = "$(date -d 2000-01-01 +%s)" ] || fail "the same revision wrote the file again"
git -C "$work/repo" -c user.name=t -c user.email=t@example.net commit -q --allow-empty -m second
[ "$(revision_of "$work/repo")" = "$(git -C "$work/repo" rev-parse HEAD)" ] || fail "a new commit is not seen"

if "$cmake" -DSOURCE_DIR="$work/plain" -DOUTPUT="$work/bad.cpp" '-DREVISION=a"b' -P "$script" >"$work/log" 2>&1; then
    fail "a revision with a quote was taken"
fi
# (CMake lays the message out on lines of its own.)
[ "$(tr -s ' \n' '  ' <"$work/log" | sed 's/^CMake Error at .* (message): //')" = \
  "FERROWIND_REVISION takes letters, digits and . _ + ~ -, not 'a\"b' " ] ||
    fail "no clear message for a bad revision: $(cat "$work/log")"
[ ! -e "$work/bad.cpp" ] || fail "a bad revision was written"

[ "$failures" -eq 0 ] || exit 1
echo "source revision: all checks passed"
