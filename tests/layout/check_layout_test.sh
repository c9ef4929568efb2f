#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The layout check on small trees made to break one rule each, then on the
# real tree. A check that passed everything would fail here.
set -euo pipefail
check="$1/scripts/check-layout.py"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
failures=0

expect() { # expect NAME WANTED-EXIT PATTERN...
    local name="$1" wanted="$2"
    shift 2
    local out status=0
    out="$(python3 "$check" "$root/$name" 2>&1)" || status=$?
    if [ "$status" != "$wanted" ]; then
        echo "FAIL $name: exit $status, wanted $wanted"; echo "$out"; failures=$((failures + 1)); return
    fi
    for pattern in "$@"; do
        if ! grep -qE -- "$pattern" <<<"$out"; then
            echo "FAIL $name: no line matches /$pattern/"; echo "$out"; failures=$((failures + 1))
        fi
    done
    echo "ok $name"
}

body() { # body N: N lines of statements
    for ((i = 0; i < $1; ++i)); do echo "    step($i);"; done
}

# Two folders that include each other, and core reaching out.
mkdir -p "$root/cycle/src/core" "$root/cycle/src/serial" "$root/cycle/src/owner"
printf '#include "serial/line.h"\n' >"$root/cycle/src/core/view.h"
printf '#include "owner/shared.h"\n' >"$root/cycle/src/serial/line.h"
printf '#include "serial/line.h"\n#include "core/view.h"\n' >"$root/cycle/src/owner/shared.h"
expect cycle 1 'folders include each other: .*serial -> owner' 'core/ includes serial/'

# A function of 101 lines (its braces included) is one too many; one of 100,
# a long table and a long lambda inside a short function are not flagged.
mkdir -p "$root/long/src/app"
{
    echo 'int tooLong(int a) {'; body 99; echo '}'
    echo 'void Thing::fits(const std::string &s) const noexcept {'; body 98; echo '}'
    echo 'Thing::Thing(int a) : a_(a), b_{a} {'; body 99; echo '}'
    echo 'inline constexpr std::array kRows = {'; for ((i = 0; i < 150; ++i)); do echo "    Row{\"{\", $i},"; done; echo '};'
    echo 'void quotes() { const char *s = "}}}"; char c = '"'"'{'"'"'; /* { */ // {'; echo '}'
} >"$root/long/src/app/main.cpp"
expect long 1 'main.cpp:1: tooLong is 101 lines' 'main.cpp:202: Thing::Thing is 101 lines'
if python3 "$check" "$root/long" | grep -qE 'fits|kRows|quotes'; then
    echo "FAIL long: a function within the limit, or a table, was flagged"; failures=$((failures + 1))
fi

# The real tree holds every rule.
cp -r "$1/src" "$root/tree-src"; mkdir -p "$root/tree"; mv "$root/tree-src" "$root/tree/src"
expect tree 0 'layout holds'
[ "$failures" = 0 ]
