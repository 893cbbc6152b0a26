#!/usr/bin/env bash
# Installs the two Debian packages on this machine, runs the installed programs and removes the packages again:
# the system user and group ferrowind, the configuration file root:ferrowind 0640 and readable by that user,
# ferrowind --version and demo-env from /usr/bin, the desktop tool under Xvfb up to its main window with its log
# under the XDG state folder, root's log in /var/log/ferrowind (root:adm 2750, logs 0640), the warning about a
# password others can read, the metrics service (started under systemd where systemd runs this machine, else its
# command run as the service's user), nothing written under /usr, an upgrade and a downgrade keeping the edited
# configuration file, its mode and the logs (and, under systemd, the running metrics service), dpkg -r stopping it
# and leaving only the conffiles behind and
# dpkg -P removing them, the logs, the user and the group. The machine is restored (packages purged) whatever
# happens. Needs root.
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
for p in /var/log/ferrowind /etc/ferrowind; do
    if [ -e "$p" ]; then
        echo "skipped: $p exists already; the test would change it"
        exit 77
    fi
done
if getent passwd ferrowind >/dev/null || getent group ferrowind >/dev/null; then
    echo "skipped: the user or group ferrowind exists already; the test would remove it"
    exit 77
fi

version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
arch=$(dpkg --print-architecture)
cli=$build/packages-staged/ferrowind_${version}_${arch}.deb
desktop=$build/packages-staged/ferrowind-desktop_${version}_${arch}.deb
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

tmp=$(mktemp -d)
xvfb_pid= tool_pid= server_pid=
cleanup() {
    [ -z "$tool_pid" ] || kill "$tool_pid" 2>/dev/null
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null
    for p in ferrowind-desktop ferrowind; do
        if dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qv '^not-installed$'; then
            dpkg -P "$p" >/dev/null || echo "cleanup: dpkg -P $p failed"
        fi
    done
    rm -rf /var/log/ferrowind /etc/ferrowind "$tmp"
    getent passwd ferrowind >/dev/null && deluser --system --quiet ferrowind
    getent group ferrowind >/dev/null && delgroup --system --quiet ferrowind
}
trap cleanup EXIT

dpkg -i "$cli" "$desktop" >"$tmp/dpkg-i.out" 2>&1 || { cat "$tmp/dpkg-i.out"; echo "FAIL: dpkg -i"; exit 1; }
dpkg -L ferrowind ferrowind-desktop | sort -u >"$tmp/files"
sleep 1
touch "$tmp/stamp"

# The service's user and group, the configuration file only they and root can read, the log folder adm's.
getent passwd ferrowind | grep -q ':/usr/sbin/nologin$' || fail "no system user ferrowind: $(getent passwd ferrowind)"
[ "$(stat -c '%a %U %G' /etc/ferrowind/velmora.reg)" = "640 root ferrowind" ] ||
    fail "/etc/ferrowind/velmora.reg is $(stat -c '%a %U %G' /etc/ferrowind/velmora.reg)"
[ "$(stat -c '%a %U %G' /var/log/ferrowind)" = "2750 root adm" ] || fail "/var/log/ferrowind is $(stat -c '%a %U %G' /var/log/ferrowind)"
# (The output is read whole: grep -q ending the pipe early would fail it under pipefail.)
as_user=$(runuser -u ferrowind -- /usr/bin/ferrowind version 2>&1)
grep -qx 'Installed Velmora version: 8.0(0.85)' <<<"$as_user" ||
    fail "the user ferrowind cannot read /etc/ferrowind/velmora.reg: $as_user"
[ -z "$(find /etc/systemd/system -name 'ferrowind*' 2>/dev/null)" ] ||
    fail "installing enabled a service: $(find /etc/systemd/system -name 'ferrowind*')"

# A registry file with a password that every user can read is named on stderr; once it is 0640, nothing is said.
sed 's/^"ConnectionString"=.*/"ConnectionString"="Driver={FreeTDS};Server=db;UID=velmora;PWD=secret"/' \
    /etc/ferrowind/velmora.reg >"$tmp/exposed.reg"
chmod 0644 "$tmp/exposed.reg"
FERROWIND_REGISTRY=$tmp/exposed.reg /usr/bin/ferrowind version 2>"$tmp/exposed.err" >/dev/null
grep -qxF "ferrowind version: warning: the registry file $tmp/exposed.reg holds a database password and every user of this computer can read it; make it unreadable to others (chmod o-r $tmp/exposed.reg)" \
    "$tmp/exposed.err" || fail "no warning about a password others can read: $(cat "$tmp/exposed.err")"
grep -q secret "$tmp/exposed.err" && fail "the warning shows the password"
chmod 0640 "$tmp/exposed.reg"
FERROWIND_REGISTRY=$tmp/exposed.reg /usr/bin/ferrowind version 2>"$tmp/exposed.err" >/dev/null
grep -q warning "$tmp/exposed.err" && fail "a warning for a file only its group can read: $(cat "$tmp/exposed.err")"

# The metrics service. Under systemd: started, scraped, stopped. Elsewhere (a container) its command line, with
# the arguments from /etc/default/ferrowind, as its user: what the unit runs, without the confinement (which
# package_check.sh has systemd-analyze check).
if [ -d /run/systemd/system ]; then
    systemctl daemon-reload
    systemctl start ferrowind-metrics.service || fail "systemctl start ferrowind-metrics: $(journalctl -u ferrowind-metrics -n 20 2>&1)"
    listen=$(. /etc/default/ferrowind && echo "${ARGS#--web.listen-address }")
    sleep 2
    metrics=$(curl -fsS "http://$listen/metrics") && grep -q '^ferrowind_up ' <<<"$metrics" || fail "the started service serves no metrics at $listen"
    systemctl stop ferrowind-metrics.service
else
    echo "note: systemd does not run this machine; the unit's command is run as the user ferrowind instead"
    (. /etc/default/ferrowind && set -f && exec runuser -u ferrowind -- /usr/bin/ferrowind serve-metrics ${ARGS/:9731/:0}) \
        >"$tmp/serve.out" 2>&1 &
    server_pid=$!
    sleep 2
    kill -0 "$server_pid" 2>/dev/null || fail "serve-metrics as the user ferrowind with ARGS from /etc/default/ferrowind ended: $(cat "$tmp/serve.out")"
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=
fi

if ldd /usr/bin/ferrowind | grep -E 'libQt6(Gui|Widgets|OpenGL)|libX11|libxcb|libGL\.|libEGL|libOpenGL'; then
    fail "/usr/bin/ferrowind loads graphical libraries (above)"
fi
[ "$(/usr/bin/ferrowind --version)" = "ferrowind $version" ] || fail "/usr/bin/ferrowind --version says '$(/usr/bin/ferrowind --version)'"

# The autopkgtest, here against the installed packages (as an unprivileged user, as autopkgtest would).
(cd / && runuser -u nobody -- env -u FERROWIND_REGISTRY PATH=/usr/bin:/bin sh "$root/debian/tests/demo-database") \
    >"$tmp/autopkgtest.out" 2>&1 || fail "debian/tests/demo-database: $(cat "$tmp/autopkgtest.out")"

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
for log in /var/log/ferrowind/ferrowind_Log_*.TXT; do
    [ "$(stat -c '%a %G' "$log")" = "640 adm" ] || fail "$log is $(stat -c '%a %G' "$log")"
done

written=$(find /usr -xdev -newer "$tmp/stamp" 2>/dev/null | head -20)
[ -z "$written" ] || fail "written under /usr by the installed programs: $written"

# An upgrade to the next release and a downgrade back: the administrator's edit of the conffile, its owner and
# mode, the user and the logs survive both. The next release is these packages at a higher version (the maintainer
# scripts are what an upgrade runs; what the programs do is checked above).
next=$version.1
for deb in "$cli" "$desktop"; do
    name=$(dpkg-deb -f "$deb" Package)
    dpkg-deb -R "$deb" "$tmp/$name-next"
    sed -i -e "s/^Version: .*/Version: $next/" -e "s/(= $version)/(= $next)/" "$tmp/$name-next/DEBIAN/control"
    dpkg-deb -b --root-owner-group "$tmp/$name-next" "$tmp/${name}_next.deb" >/dev/null
done
echo '; edited by the administrator' >>/etc/ferrowind/velmora.reg
logs=$(ls /var/log/ferrowind)
# Under systemd a running metrics service is running again after each (maintscripts_check.sh checks the same
# where systemd does not run).
if [ -d /run/systemd/system ]; then
    systemctl start ferrowind-metrics.service || fail "systemctl start ferrowind-metrics before the upgrade"
fi
for step in "upgrade:$next:$tmp/ferrowind_next.deb:$tmp/ferrowind-desktop_next.deb" "downgrade:$version:$cli:$desktop"; do
    IFS=: read -r what want cli_deb desktop_deb <<<"$step"
    dpkg -i "$cli_deb" "$desktop_deb" >"$tmp/dpkg-$what.out" 2>&1 </dev/null || fail "the $what to $want: $(cat "$tmp/dpkg-$what.out")"
    for p in ferrowind ferrowind-desktop; do
        status=$(dpkg-query -W -f='${Version} ${db:Status-Status}' "$p")
        [ "$status" = "$want installed" ] || fail "after the $what $p is $status, not $want installed"
    done
    tail -1 /etc/ferrowind/velmora.reg | grep -qx '; edited by the administrator' || fail "the $what lost the edit of /etc/ferrowind/velmora.reg"
    [ "$(stat -c '%a %U %G' /etc/ferrowind/velmora.reg)" = "640 root ferrowind" ] ||
        fail "after the $what /etc/ferrowind/velmora.reg is $(stat -c '%a %U %G' /etc/ferrowind/velmora.reg)"
    [ "$(stat -c '%a %U %G' /var/log/ferrowind)" = "2750 root adm" ] || fail "after the $what /var/log/ferrowind is $(stat -c '%a %U %G' /var/log/ferrowind)"
    [ "$(ls /var/log/ferrowind)" = "$logs" ] || fail "the $what changed the logs: $(ls /var/log/ferrowind)"
    if [ -d /run/systemd/system ]; then
        systemctl is-active --quiet ferrowind-metrics.service || fail "the $what left ferrowind-metrics.service stopped"
    fi
    leftover=$(find /etc/ferrowind -name '*.dpkg-*')
    [ -z "$leftover" ] || fail "the $what left $leftover"
    as_user=$(cd / && runuser -u ferrowind -- env -u FERROWIND_REGISTRY /usr/bin/ferrowind version 2>&1)
    grep -qx 'Installed Velmora version: 8.0(0.85)' <<<"$as_user" || fail "after the $what, ferrowind version as the user ferrowind: $as_user"
done

dpkg -r ferrowind-desktop ferrowind >/dev/null || fail "dpkg -r"
if [ -d /run/systemd/system ] && systemctl is-active --quiet ferrowind-metrics.service; then
    fail "dpkg -r left ferrowind-metrics.service running"
fi
conffiles='^(/etc/ferrowind/velmora\.reg|/etc/default/ferrowind)$'
# Files and links to files (/lib, a link to a folder on a merged /usr, is no file of the packages).
left=$(while read -r f; do if [ -f "$f" ] || { [ -L "$f" ] && [ ! -d "$f" ]; }; then echo "$f"; fi; done <"$tmp/files" |
    grep -Ev "$conffiles")
[ -z "$left" ] || fail "left behind by dpkg -r: $left"
[ "$(dpkg-query -W -f='${db:Status-Status}' ferrowind 2>/dev/null)" = "config-files" ] || fail "ferrowind is not config-files after dpkg -r"
state=$(dpkg-query -W -f='${db:Status-Status}' ferrowind-desktop 2>/dev/null)
# Without conffiles dpkg forgets a removed package at once.
[ -z "$state" ] || [ "$state" = "not-installed" ] || fail "ferrowind-desktop is '$state' after dpkg -r"
dpkg -P ferrowind-desktop ferrowind >/dev/null 2>&1 || fail "dpkg -P"
for p in /var/log/ferrowind /etc/ferrowind /etc/default/ferrowind; do
    [ ! -e "$p" ] || fail "dpkg -P left $p"
done
getent passwd ferrowind >/dev/null && fail "dpkg -P left the user ferrowind"
getent group ferrowind >/dev/null && fail "dpkg -P left the group ferrowind"

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "ok: installed, ran and removed ferrowind $version and ferrowind-desktop $version"
