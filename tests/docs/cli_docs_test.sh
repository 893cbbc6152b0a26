#!/usr/bin/env bash
# Checks the bash completion and the man page of ferrowind against what the program itself says in its --help:
# every command and every long option must be offered by the completion and described in the man page, and the
# completion offers no option the command does not take.
# Usage: cli_docs_test.sh completion|manpage FERROWIND COMPLETION_FILE MAN_SOURCE MAN_ROFF
set -uo pipefail
what=$1 ferrowind=$2 completion=$3 man_source=$4 man_roff=$5
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The commands of the program's --help ("settings show" for nested ones).
mapfile -t commands < <("$ferrowind" --help | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\( [a-z][a-z-]*\)\?\)  .*/\1/p')
[ ${#commands[@]} -ge 10 ] || fail "expected at least 10 commands in 'ferrowind --help', read ${#commands[@]}"

# The long options of one command's --help (lines of the option table start with two spaces).
long_options() {
    # shellcheck disable=SC2086
    "$ferrowind" $1 --help | sed -n 's/^  \(-[a-zA-Z], \)\?\(--[a-z0-9.-]*\).*/\2/p' | sort -u
}

# What the completion offers for the given words, the last one being completed.
complete_words() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ferrowind; printf "%s\n" "${COMPREPLY[@]}"' \
        complete "$completion" ferrowind "$@" | sort -u
}

check_completion() {
    local top
    top=$(complete_words "")
    for c in "${commands[@]}"; do
        read -r first second <<<"$c"
        grep -qx -- "$first" <<<"$top" || fail "completion of 'ferrowind ' lacks '$first'"
        if [ -n "${second:-}" ]; then
            grep -qx -- "$second" <<<"$(complete_words "$first" "")" || fail "completion of 'ferrowind $first ' lacks '$second'"
        fi
        local want got
        want=$(long_options "$c")
        # shellcheck disable=SC2086
        got=$(complete_words $c --)
        [ -n "$want" ] || fail "'ferrowind $c --help' lists no options"
        while read -r o; do
            [ -z "$o" ] || grep -qx -- "$o" <<<"$got" || fail "completion of 'ferrowind $c --' lacks $o"
        done <<<"$want"
        while read -r o; do
            [ -z "$o" ] || grep -qx -- "$o" <<<"$want" || fail "completion of 'ferrowind $c --' offers $o, which the command does not take"
        done <<<"$got"
    done
    local opts
    opts=$(complete_words --)
    for o in --help --version; do
        grep -qx -- "$o" <<<"$opts" || fail "completion of 'ferrowind --' lacks $o"
    done
    [ "$(complete_words history "")" = "$(printf 'dc\ngc')" ] || fail "completion of 'ferrowind history ' is not dc and gc"
    [ "$(complete_words status --details "")" = "$(printf 'dc\ngc')" ] || fail "completion of '--details ' is not dc and gc"
    grep -qx 'ReconnectAutoFind=' <<<"$(complete_words settings set --domain x ReconnectAuto)" ||
        fail "completion of 'settings set ReconnectAuto' lacks ReconnectAutoFind="
}

# Whether the section on stdin has an entry for the option: a line starting with it, its text indented below.
described() {
    awk -v o="*$1*" 'index($0, o) == 1 { entry = 1; next } entry && /^\t/ { found = 1 } { entry = 0 } END { exit !found }'
}

check_manpage() {
    for c in "${commands[@]}"; do
        # The command's section runs from its "## name" line to the next heading.
        local section
        section=$(awk -v h="## $c" '$0 == h { on = 1; next } on && /^#/ { exit } on' "$man_source")
        if [ -z "$section" ]; then
            fail "the man page has no section '## $c'"
            continue
        fi
        while read -r o; do
            [ -z "$o" ] || [ "$o" = --help ] || described "$o" <<<"$section" || fail "the man page section '$c' does not describe $o"
        done < <(long_options "$c")
    done
    for s in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES; do
        grep -qx "# $s" "$man_source" || fail "the man page has no $s section"
    done
    local warnings
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' man --warnings -l "$man_roff" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man -l reports: $warnings"
}

case $what in
    completion) check_completion ;;
    manpage) check_manpage ;;
    *) echo "unknown check '$what'"; exit 2 ;;
esac
if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "ok: ${#commands[@]} commands"
