#!/usr/bin/env bash
# Builds the Debian packages (scripts/package; nothing is rebuilt when they are up to date) and checks them:
# lintian finds no error, the desktop entry and the AppStream metainfo validate, the man pages render without
# warnings, each package holds its files, and the command-line package needs no graphical library.
# Usage: package_check.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
root=$1 build=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

BUILD_DIR=$build "$root/scripts/package" || { echo "FAIL: scripts/package"; exit 1; }

version=$(sed -n 's/^project(Ferrowind VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
arch=$(dpkg --print-architecture)
cli=$build/packages/ferrowind_${version}_${arch}.deb
desktop=$build/packages/ferrowind-desktop_${version}_${arch}.deb
for deb in "$cli" "$desktop"; do
    [ -f "$deb" ] || { echo "FAIL: $deb was not built"; exit 1; }
done

# Lintian: errors fail; warnings are listed for the record.
lintian_out=$(lintian --fail-on error --display-info "$cli" "$desktop" 2>&1) || fail "lintian reports errors"
[ -z "$lintian_out" ] || printf 'lintian:\n%s\n' "$lintian_out"

[ "$(dpkg-deb -f "$cli" Version)" = "$version" ] || fail "ferrowind has version $(dpkg-deb -f "$cli" Version), not $version"
dpkg-deb -f "$desktop" Depends | grep -qF "ferrowind (= $version)" || fail "ferrowind-desktop does not depend on ferrowind (= $version)"
if dpkg-deb -f "$cli" Depends | grep -Eio 'libqt6(gui|widgets|printsupport|opengl)[^,]*|libx11[^,]*|libxcb[^,]*|libgl[^,]*|qcustomplot[^,]*'; then
    fail "the ferrowind package depends on graphical libraries (above)"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$cli" "$tmp/cli"
dpkg-deb -x "$desktop" "$tmp/desktop"

expect() { # TREE PATH...
    local tree=$1
    shift
    for p in "$@"; do
        [ -e "$tmp/$tree$p" ] || fail "the $tree package lacks $p"
    done
}
expect cli /usr/bin/ferrowind /usr/share/man/man1/ferrowind.1.gz /usr/share/bash-completion/completions/ferrowind \
    /usr/share/doc/ferrowind/examples/velmora.reg /usr/share/doc/ferrowind/copyright \
    /usr/share/doc/ferrowind/examples/prometheus/ferrowind-alerts.yml /usr/share/doc/ferrowind/examples/icinga2/ferrowind.conf
expect desktop /usr/bin/FerrowindSettingsTool /usr/share/man/man1/FerrowindSettingsTool.1.gz \
    /usr/share/ferrowind/FerrowindManager.htm /usr/share/applications/net.example.Ferrowind.desktop \
    /usr/share/icons/hicolor/scalable/apps/net.example.Ferrowind.svg /usr/share/metainfo/net.example.Ferrowind.metainfo.xml \
    /usr/share/doc/ferrowind-desktop/copyright
[ ! -e "$tmp/cli/usr/bin/FerrowindSettingsTool" ] || fail "the ferrowind package holds the desktop tool"

desktop-file-validate "$tmp/desktop/usr/share/applications/net.example.Ferrowind.desktop" || fail "desktop-file-validate"
grep -qx 'Categories=System;Network;' "$tmp/desktop/usr/share/applications/net.example.Ferrowind.desktop" ||
    fail "the desktop entry is not in System;Network;"
appstreamcli validate --no-net "$tmp/desktop/usr/share/metainfo/net.example.Ferrowind.metainfo.xml" ||
    fail "appstreamcli validate"
grep -qF "<release version=\"$version\"" "$tmp/desktop/usr/share/metainfo/net.example.Ferrowind.metainfo.xml" ||
    fail "the metainfo does not name release $version"

for page in "$tmp/cli/usr/share/man/man1/ferrowind.1.gz" "$tmp/desktop/usr/share/man/man1/FerrowindSettingsTool.1.gz"; do
    [ -f "$page" ] || continue
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man -l $(basename "$page"): $warnings"
done

# The example registry file reads as a whole and passes the start-up checks.
FERROWIND_REGISTRY="$tmp/cli/usr/share/doc/ferrowind/examples/velmora.reg" QT_LOGGING_RULES=ferrowind.debugger=true \
    "$tmp/cli/usr/bin/ferrowind" version >"$tmp/version.out" 2>&1 || fail "ferrowind version refuses the example registry file"
grep -q 'skipped' "$tmp/version.out" && fail "the example registry file has lines the reader skips"
grep -qx 'Installed Velmora version: 8.0(0.85)' "$tmp/version.out" || fail "the example registry file does not give 8.0(0.85)"
[ "$failures" -eq 0 ] || cat "$tmp/version.out"

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "ok: $(basename "$cli") $(basename "$desktop")"
