#!/usr/bin/env bash
# Checks the bash completion of qvx-send: its options, the values of --port and
# --speed, and the command names it takes from "qvx-send --list", first from a
# stand-in whose list has the shape of the real one, then, when a built
# qvx-send is given, from the real list. Exits 77 (skipped) without bash-completion.
set -uo pipefail
completion=$1
program=${2:-}

library=/usr/share/bash-completion/bash_completion
[ -r "$library" ] || { echo "SKIP: bash-completion is not installed"; exit 77; }
# shellcheck source=/dev/null
source "$library"
# shellcheck source=/dev/null
source "$completion"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/qvx-send" <<'EOF'
#!/bin/sh
[ "$1" = --list ] || exit 64
cat <<'LIST'
power-on           "POWR   1"
3-cinema           "RCPS  12"
pressure           "CR PRESSURE"
volume NN          "VOLA  NN"
keystone-v ±NN     "KEYV ±NN"
text 'TEXT'        "TEXT"
zoom+              "LNZO+001"
LIST
EOF
chmod +x "$work/qvx-send"
touch "$work/qvx-com1"
printf '[booth-a]\nport = /dev/ttyUSB0\n\n  [booth-b]  \nport = socket://127.0.0.1:4001\n' >"$work/venue.conf"

# compopt works only while bash itself completes; note what was asked for.
compopt() { options+=" $*"; }

failures=0
# Completes the last word of a command line, with the line split into words
# at COMP_WORDBREAKS as bash splits it, and prints the candidates sorted on one line.
complete_line() {
    local line=$1 word
    local -
    set -f
    COMP_WORDS=()
    for word in $line; do
        while [[ $word =~ ^([^:=]*)([:=]+)(.*)$ ]]; do
            [[ ${BASH_REMATCH[1]} ]] && COMP_WORDS+=("${BASH_REMATCH[1]}")
            COMP_WORDS+=("${BASH_REMATCH[2]}")
            word=${BASH_REMATCH[3]}
        done
        [[ $word ]] && COMP_WORDS+=("$word")
    done
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    options=""
    _qvx_send "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]:-}"
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' '
}

expect() {
    local line=$1 want=$2 got
    got=$(complete_line "$line")
    if [ "$got" != "$want" ]; then
        echo "FAIL: '$line' completes to '$got', not '$want'"
        failures=$((failures + 1))
    fi
}

stub=$work/qvx-send
expect "$stub " "3-cinema keystone-v power-on pressure text volume zoom+"
expect "$stub p" "power-on pressure"
expect "$stub --json --port /dev/ttyS0 power-on z" "zoom+"
expect "$stub --" "--all --check --count --dump --every --help --hold --json --list --port --speed --venue --version"
expect "$stub --sp" "--speed"
expect "$stub --speed " "115200 9600"
expect "$stub --port " "/dev/ rfc2217:// socket://"
expect "$stub --port /d" "/dev/"
expect "$stub --venue $work/venue.conf --port b" "booth-a booth-b"
expect "$stub --venue $work/venue.c" "$work/venue.conf"
expect "$stub --port $work/qvx-c" "$work/qvx-com1"
# COMP_WORDBREAKS holds the colon: what is offered follows it.
expect "$stub --port rfc2217:" "//"
expect "$stub --port rfc2217://booth-a:4001 --port rfc2217://booth-b:4001 pj-status p" "power-on pressure"
expect "$stub --port rfc2217://booth-a:4001 3" "3-cinema"
# A value or a text is the user's own, and may start with a minus sign.
expect "$stub volume " ""
expect "$stub keystone-v -" ""
expect "$stub text " ""
expect "$stub --every " ""
expect "$stub --list " ""
expect "$stub --help -" ""

complete_line "$stub --port rfc" >/dev/null
[[ $options == *nospace* ]] || { echo "FAIL: a space would follow rfc2217://"; failures=$((failures + 1)); }

if [ -n "$program" ]; then
    [ -x "$program" ] || { echo "FAIL: $program is not built"; exit 1; }
    listed=$("$program" --list | awk 'NF { print $1 }' | sort | paste -sd ' ')
    [ -n "$listed" ] || { echo "FAIL: $program --list lists nothing"; exit 1; }
    expect "$program " "$listed"
    for name in power-on 5-border pj-status pressure volume keystone-h text zoom+ shift-right; do
        [[ " $listed " == *" $name "* ]] || { echo "FAIL: $name is not among the names"; failures=$((failures + 1)); }
    done
    for name in volume keystone-v keystone-h text; do
        expect "$program $name " ""
    done
fi

[ "$failures" -eq 0 ] || exit 1
echo "qvx-send completes as it should"
