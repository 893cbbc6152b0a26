#!/usr/bin/env bash
# Builds the release packages twice with scripts/package, from copies of the sources in two different folders: once
# as the README says (compiler cache included, with the base folder the build guide sets), once without the
# compiler cache; fails unless both give the same bytes. When they differ, diffoscope (if installed) says where.
# Up to two full compiles: run before a release (ctest -L release).
# Usage: package_reproducible.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
root=$1 build=$2
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
arch=$(dpkg --print-architecture)
work=$build/reproducible
rm -rf "$work"
for side in a b-in-another-folder; do
    if [ $side = a ]; then
        cache=(env CCACHE_BASEDIR="${CCACHE_BASEDIR:-/}" CCACHE_NOHASHDIR=true)
    else
        cache=(env CCACHE_DISABLE=1)
    fi
    BUILD_DIR=$work/$side "${cache[@]}" "$root/scripts/package" --force >"$work-$side.log" 2>&1 ||
        { tail -40 "$work-$side.log"; echo "FAIL: scripts/package in $work/$side"; exit 1; }
done
failures=0
for name in ferrowind_"${version}"_"$arch".deb ferrowind-desktop_"${version}"_"$arch".deb; do
    a=$work/a/packages/$name b=$work/b-in-another-folder/packages/$name
    if cmp -s "$a" "$b"; then
        echo "same: $name $(sha256sum <"$a" | cut -d' ' -f1)"
        continue
    fi
    failures=$((failures + 1))
    echo "FAIL: $name differs between the two builds: $(sha256sum "$a" "$b")"
    if command -v diffoscope >/dev/null; then
        diffoscope --text - --max-report-size 200000 "$a" "$b"
    else
        echo "(install diffoscope to see where)"
    fi
done
[ "$failures" -eq 0 ] || exit 1
rm -rf "$work" "$work"-*.log
