#!/usr/bin/env bash
# Installs the two Debian packages on this machine, runs the installed programs and removes the packages again:
# ferrowind --version and demo-env from /usr/bin, the desktop tool under Xvfb up to its main window with its log
# under the XDG state folder, root's log in /var/log/ferrowind, nothing written under /usr, and dpkg -r leaving none
# of the packages' files behind. The machine is restored (packages purged) whatever happens. Needs root.
# Usage: package_install.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
root=$1 build=$2
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing packages needs root"
    exit 77
fi
for p in ferrowind ferrowind-desktop; do
    if dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qv '^not-installed$'; then
        echo "skipped: $p is already on this machine ($(dpkg-query -W -f='${db:Status-Status}' "$p")); the test would change it"
        exit 77
    fi
done
if [ -e /var/log/ferrowind ]; then
    echo "skipped: /var/log/ferrowind exists already; the test would change it"
    exit 77
fi

version=$(sed -n 's/^project(Ferrowind VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
arch=$(dpkg --print-architecture)
cli=$build/packages/ferrowind_${version}_${arch}.deb
desktop=$build/packages/ferrowind-desktop_${version}_${arch}.deb
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

tmp=$(mktemp -d)
xvfb_pid= tool_pid=
cleanup() {
    [ -z "$tool_pid" ] || kill "$tool_pid" 2>/dev/null
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null
    for p in ferrowind-desktop ferrowind; do
        if dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qv '^not-installed$'; then
            dpkg -P "$p" >/dev/null || echo "cleanup: dpkg -P $p failed"
        fi
    done
    rm -rf /var/log/ferrowind "$tmp"
}
trap cleanup EXIT

dpkg -i "$cli" "$desktop" >"$tmp/dpkg-i.out" 2>&1 || { cat "$tmp/dpkg-i.out"; echo "FAIL: dpkg -i"; exit 1; }
dpkg -L ferrowind ferrowind-desktop | sort -u >"$tmp/files"
sleep 1
touch "$tmp/stamp"

if ldd /usr/bin/ferrowind | grep -E 'libQt6(Gui|Widgets|OpenGL)|libX11|libxcb|libGL\.|libEGL|libOpenGL'; then
    fail "/usr/bin/ferrowind loads graphical libraries (above)"
fi
[ "$(/usr/bin/ferrowind --version)" = "ferrowind $version" ] || fail "/usr/bin/ferrowind --version says '$(/usr/bin/ferrowind --version)'"

# A user's run: the demo environment, then the desktop tool on it, logging under XDG_STATE_HOME.
cd "$tmp"
/usr/bin/ferrowind demo-env --runs 50 "$tmp/demo" >/dev/null || fail "/usr/bin/ferrowind demo-env"
[ -f "$tmp/demo/VelmoraDb.sqlite" ] && [ -f "$tmp/demo/velmora.reg" ] || fail "demo-env wrote no database and registry file"
export FERROWIND_REGISTRY=$tmp/demo/velmora.reg

exec 3>"$tmp/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.2; done
export DISPLAY=:$(cat "$tmp/display")
XDG_STATE_HOME=$tmp/state QT_QPA_PLATFORM=xcb /usr/bin/FerrowindSettingsTool >"$tmp/tool.out" 2>&1 &
tool_pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Ferrowind Settings Tool$' 2>/dev/null | head -1)
if [ -z "$wid" ]; then
    fail "the warning window did not open: $(cat "$tmp/tool.out")"
else
    # "Continue" opens the main window, whose load starts the activity log.
    xdotool windowfocus --sync "$wid" 2>/dev/null
    xdotool key --window "$wid" alt+n
    for _ in $(seq 100); do
        compgen -G "$tmp/state/ferrowind/logs/FerrowindSettingsTool_Log_*.TXT" >/dev/null && break
        sleep 0.2
    done
    compgen -G "$tmp/state/ferrowind/logs/FerrowindSettingsTool_Log_*.TXT" >/dev/null ||
        fail "no activity log under \$XDG_STATE_HOME/ferrowind/logs: $(ls -R "$tmp/state" 2>&1) $(cat "$tmp/tool.out")"
fi
kill "$tool_pid" 2>/dev/null
wait "$tool_pid" 2>/dev/null
tool_pid=

# Root without XDG_STATE_HOME logs to /var/log/ferrowind.
env -u XDG_STATE_HOME /usr/bin/ferrowind settings set --domain corp.example.com ReconnectFailureThreshold=4 >/dev/null ||
    fail "/usr/bin/ferrowind settings set as root"
compgen -G "/var/log/ferrowind/ferrowind_Log_*.TXT" >/dev/null || fail "root's run left no log in /var/log/ferrowind"

written=$(find /usr -xdev -newer "$tmp/stamp" 2>/dev/null | head -20)
[ -z "$written" ] || fail "written under /usr by the installed programs: $written"

dpkg -r ferrowind-desktop ferrowind >/dev/null || fail "dpkg -r"
left=$(while read -r f; do if [ -f "$f" ] || [ -L "$f" ]; then echo "$f"; fi; done <"$tmp/files")
[ -z "$left" ] || fail "left behind by dpkg -r: $left"
for p in ferrowind ferrowind-desktop; do
    state=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)
    # Without conffiles dpkg forgets a removed package at once.
    [ -z "$state" ] || [ "$state" = "not-installed" ] || [ "$state" = "config-files" ] || fail "$p is '$state' after dpkg -r"
done
dpkg -P ferrowind-desktop ferrowind >/dev/null 2>&1 || fail "dpkg -P"
[ ! -e /var/log/ferrowind ] || fail "dpkg -P left /var/log/ferrowind"

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "ok: installed, ran and removed ferrowind $version and ferrowind-desktop $version"
