#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A minimal Debian 12 root with systemd and what the installed packages
# need, made once with debootstrap from Debian's archive and kept in the
# build folder: ROOT (given) and ROOT.stamp, which names the packages it was
# made with, so a changed list makes it again. Every run of the container
# test boots a copy, never this root itself.
set -euo pipefail
root="$1"
# systemd and its PID 1, the programs' libraries, the broker and its
# clients, socat for the serial pairs, and the tools the test runs inside.
include="systemd,systemd-sysv,dbus,libqt6core6,libqt6network6,libqt6serialport6,libqt6httpserver6,libqt6websockets6,libssl3,libmosquitto1,mosquitto,mosquitto-clients,socat,procps,util-linux,passwd,adduser"
stamp="bookworm minbase $include"
if [ -f "$root.stamp" ] && [ "$(cat "$root.stamp")" = "$stamp" ] && [ -x "$root/lib/systemd/systemd" ]; then
  exit 0
fi
command -v debootstrap >/dev/null || { echo "debootstrap is missing (scripts/setup.sh installs it)"; exit 1; }
mirror="$(sed -n 's/^URIs: *\(http[^ ]*\/debian\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)"
rm -rf "$root" "$root.stamp" "$root.tmp"
started=$SECONDS
debootstrap --variant=minbase --include="$include" bookworm "$root.tmp" "${mirror:-http://deb.debian.org/debian}" \
  >"$root.log" 2>&1 || { tail -20 "$root.log"; echo "debootstrap failed (log: $root.log)"; exit 1; }
# Nothing in the root needs the network; the container has none.
rm -f "$root.tmp/etc/resolv.conf"
echo "container" >"$root.tmp/etc/hostname"
mv "$root.tmp" "$root"
echo "$stamp" >"$root.stamp"
echo "made the Debian 12 root in $((SECONDS - started)) s"
