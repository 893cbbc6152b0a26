#!/usr/bin/env bash
# Runs the maintainer scripts of the ferrowind package (CONTROL_DIR, as dpkg-deb -e gives them) as dpkg runs them
# on an installation, an upgrade and a removal, on a machine that looks run by systemd: in a mount namespace with
# /run/systemd/system (and no policy-rc.d), the real deb-systemd-invoke deciding, systemctl and deb-systemd-helper
# replaced by stubs that answer is-enabled and is-active as each case says and write down what they are asked to
# do. So the units' handling is checked where no systemd runs: nothing started or enabled by an installation, what
# ran before an upgrade (enabled, or started by hand) running again after it, the services stopped on removal.
# Needs root (or user namespaces); exits 77 when neither is there.
# Usage: maintscripts_check.sh CONTROL_DIR
set -uo pipefail
control=$1
if ! unshare -m true 2>/dev/null && ! unshare -rm true 2>/dev/null; then
    echo "skipped: no mount namespace (needs root or user namespaces)"
    exit 77
fi
unshare_args=(-m)
unshare -m true 2>/dev/null || unshare_args=(-rm)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

mkdir "$tmp/bin"
cat >"$tmp/bin/systemctl" <<'EOF'
#!/bin/sh
# is-enabled and is-active answered from STUB_ENABLED and STUB_ACTIVE; any other request written to STUB_LOG.
words=
for a in "$@"; do
    case $a in --quiet | --system | --) ;; *) words="$words $a" ;; esac
done
set -- $words
case $1 in
is-enabled)
    case " $STUB_ENABLED " in *" $2 "*) echo enabled ;; *) echo disabled; exit 1 ;; esac ;;
is-active)
    case " $STUB_ACTIVE " in *" $2 "*) exit 0 ;; *) exit 3 ;; esac ;;
daemon-reload) ;;
*) echo "systemctl $*" >>"$STUB_LOG" ;;
esac
EOF
cat >"$tmp/bin/deb-systemd-helper" <<'EOF'
#!/bin/sh
# No unit was installed or enabled by the package before; changes are written down.
case $1 in
--quiet) shift ;;
esac
case $1 in
debian-installed | was-enabled | is-enabled) exit 1 ;;
update-state) ;;
*) echo "deb-systemd-helper $*" >>"$STUB_LOG" ;;
esac
EOF
# The postinst's user and permission steps find the user there and the modes overridden: they change nothing.
printf '#!/bin/sh\nexit 0\n' >"$tmp/bin/getent"
printf '#!/bin/sh\nexit 0\n' >"$tmp/bin/dpkg-statoverride"
chmod +x "$tmp/bin/"*

# run ENABLED ACTIVE SCRIPT ARGS...: what the script asked of systemd, one request a line, sorted.
run() {
    local enabled=$1 active=$2
    shift 2
    : >"$tmp/log"
    [ -e "$1" ] || return 0 # a script the package lacks: dpkg runs nothing
    STUB_ENABLED=$enabled STUB_ACTIVE=$active STUB_LOG=$tmp/log PATH=$tmp/bin:$PATH \
        unshare "${unshare_args[@]}" sh -c '
            mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system || exit 1
            if [ -e /usr/sbin/policy-rc.d ]; then mount --bind /dev/null /usr/sbin/policy-rc.d || exit 1; fi
            exec sh "$@"' run "$@" >"$tmp/out" 2>&1 || fail "$* ($enabled/$active) failed: $(cat "$tmp/out")"
    sort "$tmp/log"
}
expect() { # WHAT WANT GOT
    [ "$2" = "$3" ] || fail "$1: asked systemd for '${3//$'\n'/; }', not '${2//$'\n'/; }'"
}

metrics=ferrowind-metrics.service
timer=ferrowind-textfile.timer
textfile=ferrowind-textfile.service
old=1.0.0

expect "an installation" "" "$(run "" "" "$control/postinst" configure)"
expect "an upgrade's preinst, services running" "" "$(run "$metrics $timer" "$metrics $timer" "$control/preinst" upgrade $old)"
expect "an upgrade, both enabled and running" "systemctl restart $metrics
systemctl restart $timer" "$(run "$metrics $timer" "$metrics $timer" "$control/postinst" configure $old)"
expect "an upgrade, the metrics started by hand" "systemctl restart $metrics" \
    "$(run "" "$metrics" "$control/postinst" configure $old)"
expect "an upgrade, nothing enabled or running" "" "$(run "" "" "$control/postinst" configure $old)"
expect "a removal" "systemctl stop $metrics
systemctl stop $textfile $timer" "$(run "$metrics $timer" "$metrics $timer" "$control/prerm" remove)"

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "ok: the maintainer scripts start nothing on installation, restart what ran on upgrade and stop it on removal"
