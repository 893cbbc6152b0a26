#!/usr/bin/env bash
# Builds twice with scripts/package, from copies of the sources in two different folders: once as the README says
# (compiler cache included, with the base folder the build guide sets), once without the compiler cache; fails
# unless both give the same bytes. When they differ, diffoscope (if installed) says where.
# Without --objects: the release packages, up to two full compiles, run before a release (ctest -L release).
# With --objects: a source file and a file generated in the build folder, compiled into objects as the release
# build compiles them (scripts/package --objects), the first time through an empty compiler cache: where the
# build folder leaks into a binary (debug line tables, the compile folder, __FILE__) it leaks into these, for
# seconds instead of a full compile, so every test run checks it. One of the objects holds the revision the build
# looked up (git's commit of SOURCE_DIR, or unknown): the same in both folders, and the commit when there is one.
# Usage: package_reproducible.sh SOURCE_DIR BUILD_DIR [--objects]
set -uo pipefail
root=$1 build=$2 mode=${3:-packages}
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
arch=$(dpkg --print-architecture)
host=$(dpkg-architecture -qDEB_HOST_GNU_TYPE)
objects=(src/CMakeFiles/ferrowind_core.dir/platform/RegistryFileExposure.cpp.o
         src/db/CMakeFiles/ferrowind_core_resources_1.dir/.rcc/qrc_sqlite_schema.cpp.o
         src/CMakeFiles/ferrowind_core.dir/context/SourceRevision.cpp.o)
if [ "$mode" = --objects ]; then
    work=$build/reproducible-objects
    package=(--objects "${objects[@]}")
else
    work=$build/reproducible
    package=(--force)
fi
rm -rf "$work" "$work"-*.log
mkdir -p "$work"
# The test suites are the test run's business, not these builds'.
export DEB_BUILD_OPTIONS=nocheck
for side in a b-in-another-folder; do
    if [ $side = b-in-another-folder ]; then
        cache=(env CCACHE_DISABLE=1)
    elif [ "$mode" = --objects ]; then
        cache=(env CCACHE_DIR="$work/ccache" CCACHE_BASEDIR="${CCACHE_BASEDIR:-/}" CCACHE_NOHASHDIR=true)
    else
        cache=(env CCACHE_BASEDIR="${CCACHE_BASEDIR:-/}" CCACHE_NOHASHDIR=true)
    fi
    BUILD_DIR=$work/$side "${cache[@]}" "$root/scripts/package" "${package[@]}" >"$work-$side.log" 2>&1 ||
        { tail -40 "$work-$side.log"; echo "FAIL: scripts/package ${package[*]} in $work/$side"; exit 1; }
done

if [ "$mode" = --objects ]; then
    # Each object went through the compiler cache once (a cache that was not used proves nothing).
    if command -v ccache >/dev/null; then
        misses=$(CCACHE_DIR=$work/ccache ccache --print-stats | awk '$1 == "cache_miss" { n += $2 } END { print n + 0 }')
        [ "$misses" -ge ${#objects[@]} ] || { echo "FAIL: the compiler cache compiled $misses of ${#objects[@]} objects"; exit 1; }
    fi
    # The revision the package build was given: the copy it compiles is no git tree.
    revision=unknown
    if [ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" = "$(cd "$root" && pwd -P)" ]; then
        revision=$(git -C "$root" rev-parse HEAD)
    fi
    generated=$work/a/package-objects/ferrowind-$version/obj-$host/src/context/SourceRevision.cpp
    grep -q "QStringLiteral(\"$revision\")" "$generated" ||
        { echo "FAIL: the package build's revision is not $revision: $(grep QStringLiteral "$generated")"; exit 1; }
    pairs=()
    for o in "${objects[@]}"; do
        pairs+=("$work/a/package-objects/ferrowind-$version/obj-$host/$o"
                "$work/b-in-another-folder/package-objects/ferrowind-$version/obj-$host/$o")
    done
else
    pairs=()
    for name in ferrowind_"${version}"_"$arch".deb ferrowind-desktop_"${version}"_"$arch".deb; do
        pairs+=("$work/a/packages/$name" "$work/b-in-another-folder/packages/$name")
    done
fi

failures=0
for ((i = 0; i < ${#pairs[@]}; i += 2)); do
    a=${pairs[i]} b=${pairs[i + 1]} name=$(basename "${pairs[i]}")
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
