#!/usr/bin/env bash
# Builds the source package (scripts/package --source: dpkg-source over the files git would commit) and fails when
# it holds a file outside the allowed top-level folders and files: a scratch file at the root (a test's output, a
# registry file with a password) must not reach a release.
# Usage: package_source.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
root=$1 build=$2
allowed_dirs=(.ci bench cmake contrib data debian schema scripts src tests)
allowed_files=(.clang-format .gitignore CMakeLists.txt CONTRIBUTING.md LICENSE README.md)

BUILD_DIR=$build "$root/scripts/package" --source >"$build/package-source.log" 2>&1 ||
    { cat "$build/package-source.log"; echo "FAIL: scripts/package --source"; exit 1; }
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
tarball=$build/packages/ferrowind_$version.tar.xz
entries=$(tar -tJf "$tarball") || { echo "FAIL: cannot list $tarball"; exit 1; }
[ -n "$entries" ] || { echo "FAIL: $tarball is empty"; exit 1; }

# Membership by a loop, not "printf | grep -q": with pipefail, grep leaving early can kill printf with SIGPIPE and
# turn an allowed name into a stray one.
is_in() {
    local want=$1 item
    shift
    for item; do [ "$item" = "$want" ] && return 0; done
    return 1
}

stray=$(while IFS= read -r e; do
    rel=${e#*/} # below ferrowind-VERSION/
    top=${rel%%/*}
    [ -z "$rel" ] && continue
    if [ "$top" != "$rel" ]; then
        is_in "$top" "${allowed_dirs[@]}" || echo "$rel"
    elif [ "${e: -1}" != / ]; then
        is_in "$rel" "${allowed_files[@]}" || echo "$rel"
    fi
done <<<"$entries")
grep -q '^ferrowind-'"$version"'/debian/control$' <<<"$entries" || { echo "FAIL: $tarball has no debian/control"; exit 1; }
if [ -n "$stray" ]; then
    echo "FAIL: the source package holds files outside the allowed top-level folders and files" \
        "(${allowed_dirs[*]} ${allowed_files[*]}):"
    echo "$stray"
    exit 1
fi
echo "ok: $(basename "$tarball"): $(wc -l <<<"$entries") entries, none outside the allowed folders"
