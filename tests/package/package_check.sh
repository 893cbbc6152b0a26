#!/usr/bin/env bash
# Packages the test build without compiling it again (scripts/package --staged: the same debian/ rules and
# dpkg-buildpackage run, over the build installed into a folder) and checks the packages: lintian finds no error,
# the desktop entry and the AppStream metainfo validate, the man pages render without warnings, each package holds
# its files, the command-line package needs no graphical library, the configuration file is a conffile readable
# by its group only, the log folder is root:adm 2750, the version is the changelog's (a changelog at another
# version than the project stops the build), the systemd units verify and are confined, and the maintainer scripts
# start no service on installation, restart what ran on upgrade and stop it on removal (maintscripts_check.sh).
# Usage: package_check.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
root=$1 build=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

BUILD_DIR=$build "$root/scripts/package" --staged >"$build/package-staged.log" 2>&1 ||
    { tail -40 "$build/package-staged.log"; echo "FAIL: scripts/package --staged"; exit 1; }

version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
arch=$(dpkg --print-architecture)
out=$build/packages-staged
cli=$out/ferrowind_${version}_${arch}.deb
desktop=$out/ferrowind-desktop_${version}_${arch}.deb
for f in "$cli" "$desktop" "$out/ferrowind_${version}_${arch}.changes" "$out/ferrowind_${version}_${arch}.buildinfo"; do
    [ -f "$f" ] || { echo "FAIL: $f was not built"; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Lintian: errors and warnings fail (the tags kept on purpose are overridden, with the reason, in debian/); the
# rest is listed for the record. The test build is compiled without Debian's hardening flags (the release build has
# them), so the hardening tags say nothing about the packages here.
lintian_out=$(lintian --fail-on error,warning --display-info --suppress-tags hardening-no-fortify-functions,hardening-no-bindnow \
    "$cli" "$desktop" 2>&1) || fail "lintian reports errors or warnings"
[ -z "$lintian_out" ] || printf 'lintian:\n%s\n' "$lintian_out"

[ "$(dpkg-deb -f "$cli" Version)" = "$version" ] || fail "ferrowind has version $(dpkg-deb -f "$cli" Version), not $version"
dpkg-deb -f "$desktop" Depends | grep -qF "ferrowind (= $version)" || fail "ferrowind-desktop does not depend on ferrowind (= $version)"
if dpkg-deb -f "$cli" Depends | grep -Eio 'libqt6(gui|widgets|printsupport|opengl)[^,]*|libx11[^,]*|libxcb[^,]*|libgl[^,]*|qcustomplot[^,]*'; then
    fail "the ferrowind package depends on graphical libraries (above)"
fi
dpkg-deb -f "$cli" Recommends | grep -qF 'libsasl2-modules-gssapi-mit | libsasl2-modules-gssapi-heimdal' ||
    fail "ferrowind does not recommend the SASL GSSAPI module: $(dpkg-deb -f "$cli" Recommends)"

# A changelog at another version than the project stops the build, before anything is built, and says why.
mkdir -p "$tmp/skew/debian" "$tmp/skew/scripts"
cp "$root/debian/rules" "$root/CMakeLists.txt" "$tmp/skew/" && mv "$tmp/skew/rules" "$tmp/skew/debian/"
cp "$root/scripts/package" "$tmp/skew/scripts/"
{ printf 'ferrowind (9.9.9) unstable; urgency=medium\n\n  * Local change.\n\n -- T <t@example.net>  Tue, 08 Dec 2026 10:00:00 +0000\n\n'
  cat "$root/debian/changelog"; } >"$tmp/skew/debian/changelog"
skew_expected="debian/changelog is at version 9.9.9 but the project version in CMakeLists.txt is ${version}"
BUILD_DIR=$tmp/skew/build "$tmp/skew/scripts/package" >"$tmp/skew.out" 2>&1
rc=$?
[ $rc -eq 2 ] && grep -qF "package: $skew_expected;" "$tmp/skew.out" ||
    fail "scripts/package with a changelog at 9.9.9: exit $rc, $(cat "$tmp/skew.out")"
(cd "$tmp/skew" && debian/rules clean) >"$tmp/skew-rules.out" 2>&1 && fail "debian/rules builds with a changelog at 9.9.9"
grep -qF "$skew_expected" "$tmp/skew-rules.out" || fail "debian/rules with a changelog at 9.9.9: $(cat "$tmp/skew-rules.out")"

dpkg-deb -x "$cli" "$tmp/cli"
dpkg-deb -x "$desktop" "$tmp/desktop"
dpkg-deb -e "$cli" "$tmp/cli-control"

expect() { # TREE PATH...
    local tree=$1
    shift
    for p in "$@"; do
        [ -e "$tmp/$tree$p" ] || fail "the $tree package lacks $p"
    done
}
units=(ferrowind-metrics.service ferrowind-textfile.service ferrowind-textfile.timer)
expect cli /usr/bin/ferrowind /usr/share/man/man1/ferrowind.1.gz /usr/share/bash-completion/completions/ferrowind \
    /usr/share/doc/ferrowind/examples/velmora.reg /usr/share/doc/ferrowind/copyright \
    /usr/share/doc/ferrowind/examples/prometheus/ferrowind-alerts.yml /usr/share/doc/ferrowind/examples/icinga2/ferrowind.conf \
    /etc/ferrowind/velmora.reg /etc/default/ferrowind "${units[@]/#//lib/systemd/system/}"
expect desktop /usr/bin/FerrowindSettingsTool /usr/share/man/man1/FerrowindSettingsTool.1.gz \
    /usr/share/ferrowind/FerrowindManager.htm /usr/share/applications/net.example.ferrowind.desktop \
    /usr/share/icons/hicolor/scalable/apps/net.example.ferrowind.svg /usr/share/metainfo/net.example.ferrowind.metainfo.xml \
    /usr/share/doc/ferrowind-desktop/copyright
[ ! -e "$tmp/cli/usr/bin/FerrowindSettingsTool" ] || fail "the ferrowind package holds the desktop tool"

# The configuration file: a conffile, never readable by others (the postinst gives it the group ferrowind); the log
# folder is setgid, so the logs in it belong to adm.
for f in /etc/ferrowind/velmora.reg /etc/default/ferrowind; do
    grep -qx "$f" "$tmp/cli-control/conffiles" || fail "$f is not a conffile: $(cat "$tmp/cli-control/conffiles")"
done
modes=$(dpkg-deb -c "$cli")
grep -Eq '^-rw-r----- root/root .* \./etc/ferrowind/velmora\.reg$' <<<"$modes" ||
    fail "velmora.reg in the package: $(grep velmora.reg <<<"$modes")"
grep -Eq '^drwxr-s--- root/root .* \./var/log/ferrowind/$' <<<"$modes" ||
    fail "/var/log/ferrowind in the package: $(grep var/log <<<"$modes")"
grep -q '^"ConnectionString"="Driver={FreeTDS};' "$tmp/cli/etc/ferrowind/velmora.reg" ||
    fail "the shipped configuration does not use the FreeTDS driver: $(grep ConnectionString "$tmp/cli/etc/ferrowind/velmora.reg")"
grep -q '^ARGS=' "$tmp/cli/etc/default/ferrowind" || fail "/etc/default/ferrowind sets no ARGS"
# The maintainer scripts' handling of the units, run as on a systemd machine (package_install.sh checks that none
# is enabled on a real installation).
"$(dirname "$0")/maintscripts_check.sh" "$tmp/cli-control" >"$tmp/maintscripts.out" 2>&1
case $? in
0) ;;
77) cat "$tmp/maintscripts.out" ;;
*) fail "maintscripts_check.sh: $(cat "$tmp/maintscripts.out")" ;;
esac

# The units: systemd's own check, in a tree of this system's units and the package's files (so the programs the
# units start are the package's; the man page they name is checked above), and their exposure score.
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$tmp/verify/lib/systemd"
    cp -a /lib/systemd/system "$tmp/verify/lib/systemd/"
    cp -a "$tmp/cli/." "$tmp/verify/"
    for u in "${units[@]}"; do
        verify=$(SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no --root="$tmp/verify" "/lib/systemd/system/$u" 2>&1) ||
            fail "systemd-analyze verify $u: $verify"
        [ -z "$verify" ] || fail "systemd-analyze verify $u: $verify"
    done
    for u in ferrowind-metrics.service ferrowind-textfile.service; do
        security=$(systemd-analyze security --offline=true --root="$tmp/cli" --threshold=25 "/lib/systemd/system/$u" 2>&1) ||
            fail "systemd-analyze security $u is above 2.5 (or failed): $(tail -3 <<<"$security")"
        echo "systemd-analyze security $u: $(grep -o 'Overall exposure level.*' <<<"$security")"
    done
else
    fail "systemd-analyze is missing (scripts/install-deps installs systemd)"
fi

# Clean, hints and pedantic notes included.
validated=$(desktop-file-validate "$tmp/desktop/usr/share/applications/net.example.ferrowind.desktop" 2>&1) &&
    [ -z "$validated" ] || fail "desktop-file-validate: $validated"
validated=$(appstreamcli validate --pedantic --no-net "$tmp/desktop/usr/share/metainfo/net.example.ferrowind.metainfo.xml" 2>&1) &&
    ! grep -Eq '^[EWIP]: ' <<<"$validated" || fail "appstreamcli validate --pedantic: $validated"
grep -qF "<release version=\"$version\"" "$tmp/desktop/usr/share/metainfo/net.example.ferrowind.metainfo.xml" ||
    fail "the metainfo does not name release $version"

for page in "$tmp/cli/usr/share/man/man1/ferrowind.1.gz" "$tmp/desktop/usr/share/man/man1/FerrowindSettingsTool.1.gz"; do
    [ -f "$page" ] || continue
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man -l $(basename "$page"): $warnings"
done

# The shipped configuration file reads as a whole and passes the start-up checks.
FERROWIND_REGISTRY="$tmp/cli/etc/ferrowind/velmora.reg" QT_LOGGING_RULES=ferrowind.debugger=true \
    "$tmp/cli/usr/bin/ferrowind" version >"$tmp/version.out" 2>&1 || fail "ferrowind version refuses the shipped registry file"
grep -q 'skipped' "$tmp/version.out" && fail "the shipped registry file has lines the reader skips"
grep -qx 'Installed Velmora version: 8.0(0.85)' "$tmp/version.out" || fail "the shipped registry file does not give 8.0(0.85)"
[ "$failures" -eq 0 ] || cat "$tmp/version.out"

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "ok: $(basename "$cli") $(basename "$desktop")"
