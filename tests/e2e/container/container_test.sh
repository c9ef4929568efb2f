#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# qv550d as a venue installs it: a minimal Debian 12 booted with systemd in
# a container (systemd-nspawn, no network), the built packages installed in
# it with dpkg, a password-protected mosquitto, and simulated projectors on
# socat pseudo-terminal pairs. Checked from inside, through nsenter on the
# container's PID 1: the service starts and stays up with its hardening,
# its socket is for the group dialout, a dialout user's qv550-cli goes
# through it, kill -9 is restarted, "offline" is published on stop, reload
# takes a new config and keeps a bad one out, a device that appears after
# the start and one that comes back under another node are found by every
# name, an upgrade try-restarts running instances, removal stops them and
# purge leaves no link behind.
#   container_test.sh ROOT PACKAGES WORK
# ROOT is the cached Debian root (made by make-root.sh when missing),
# PACKAGES the folder of the built .deb files, WORK a scratch folder. The
# root itself is never changed: the container runs on a volatile overlay.
# A machine that cannot boot the container fails the test, saying why.
set -euo pipefail
trap 'echo "FAILED: line $LINENO of $0 ended with status $?: $BASH_COMMAND" >&2' ERR
here="$(cd "$(dirname "$0")" && pwd)"
root="$1"
packages="$2"
work="$3"
began=$SECONDS
phase_began=$SECONDS
phase() { # NAME: the time the last phase took, then the next one's name
  echo "    ($((SECONDS - phase_began)) s)"
  phase_began=$SECONDS
  echo "== $1"
}
fail() {
  echo "FAILED: $*" >&2
  if [ -n "${leader:-}" ]; then
    [ -s "$work/last-cli" ] && { echo "--- the last qv550-cli said:"; sed 's/^/    /' "$work/last-cli"; } >&2
    echo "--- the qv550d@ journal, last lines:" >&2
    inside journalctl --no-pager -n 40 -u 'qv550d@*' 2>&1 | sed 's/^/    /' >&2 || true
  fi
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "booting a container needs root (systemd-nspawn), and this runs as $(id -un)"
for tool in systemd-nspawn nsenter debootstrap dpkg-deb; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done
shopt -s nullglob
cli_deb=("$packages"/qv550-cli_*.deb)
sim_deb=("$packages"/qv550-sim_*.deb)
[ ${#cli_deb[@]} -eq 1 ] && [ ${#sim_deb[@]} -eq 1 ] \
  || fail "no built packages in $packages (the package test builds them first)"

echo "== the Debian 12 root"
"$here/make-root.sh" "$root" || fail "no Debian 12 root could be made in $root"

# The packages as given, and the next version of qv550-cli, for the upgrade.
rm -rf "$work"
mkdir -p "$work/packages" "$work/next"
cp "${cli_deb[0]}" "${sim_deb[0]}" "$work/packages/"
version="$(dpkg-deb -f "${cli_deb[0]}" Version)"
dpkg-deb -R "${cli_deb[0]}" "$work/next/tree"
sed -i "s/^Version: .*/Version: $version+next1/" "$work/next/tree/DEBIAN/control"
dpkg-deb --root-owner-group -b "$work/next/tree" "$work/next/qv550-cli_next.deb" >/dev/null
rm -rf "$work/next/tree"

phase "booting it"
systemd-nspawn -D "$root" --volatile=overlay -b --private-network --register=no --keep-unit \
  --bind-ro="$work/packages:/packages" --bind-ro="$work/next:/packages-next" >"$work/boot.log" 2>&1 </dev/null &
nspawn=$!
stop_container() {
  if kill -0 "$nspawn" 2>/dev/null; then
    [ -n "${leader:-}" ] && nsenter -t "$leader" -m -u -i -n -p -- systemctl poweroff >/dev/null 2>&1 || true
    for _ in $(seq 100); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.1; done
    kill "$nspawn" 2>/dev/null || true
    wait "$nspawn" 2>/dev/null || true
  fi
}
trap stop_container EXIT
leader=""
for _ in $(seq 300); do
  kill -0 "$nspawn" 2>/dev/null || break
  leader="$(ps --ppid "$nspawn" -o pid= | tr -d ' ' | head -1)" || true
  [ -n "$leader" ] && [ "$(cat "/proc/$leader/comm" 2>/dev/null)" = systemd ] && break
  leader=""
  sleep 0.1
done
if [ -z "$leader" ]; then
  echo "--- systemd-nspawn said:" >&2
  tail -20 "$work/boot.log" >&2
  fail "the container did not boot (systemd-nspawn -D $root -b)"
fi
inside() { nsenter -t "$leader" -m -u -i -n -p -- "$@"; }
as_alice() { inside runuser -u alice -- "$@"; }
# Until its systemd answers, and then until it has started everything.
deadline=$((SECONDS + 90))
while :; do
  state="$(inside systemctl is-system-running --wait 2>&1)" || true
  case "$state" in
    running | degraded) break ;;
  esac
  [ $SECONDS -lt $deadline ] || fail "the container's systemd did not finish booting: $state"
  sleep 0.2
done
echo "    systemd in the container is $state"

# Waits for a condition: wait_for WHAT SECONDS COMMAND...
wait_for() {
  local what="$1" seconds="$2"
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || fail "$what, not within $seconds s"
    sleep 0.2
  done
}
show() { inside systemctl show -p "$2" --value "qv550d@$1.service"; }
via_owner() { # CLI ARGUMENTS...: a dialout user's status through an owner
  local out
  as_alice qv550-cli --json "$@" status >"$work/last-cli" 2>&1 || return 1
  grep -q '"via":"owner"' "$work/last-cli"
}
reaches_owner() { # CLI ARGUMENTS...: through the owner, whether the line is up or not
  as_alice qv550-cli --json "$@" status >"$work/last-cli" 2>&1 || true
  grep -q '"via":"owner"' "$work/last-cli"
}
available() { # NAME STATE: the retained availability on the broker
  [ "$(inside mosquitto_sub -h 127.0.0.1 -u watcher -P watching -t "qv550/$1/availability" -C 1 -W 3 2>/dev/null)" = "$2" ]
}
rig() { # NAME: a socat pair, /run/rig/NAME for qv550d, the simulator on the other end
  inside systemd-run --quiet --unit="rig-$1" --collect socat \
    "pty,raw,echo=0,perm=0660,group=dialout,link=/run/rig/$1" "pty,raw,echo=0,link=/run/rig/$1-sim"
  wait_for "the socat pair for $1 is up" 20 inside test -e "/run/rig/$1-sim"
  inside systemd-run --quiet --unit="sim-$1" --collect qv550-sim --device "/run/rig/$1-sim"
}
unrig() {
  inside systemctl stop "sim-$1" "rig-$1" >/dev/null 2>&1 || true
  wait_for "the socat pair for $1 is gone" 20 inside test ! -e "/run/rig/$1"
}

phase "installing the packages with dpkg, a broker, a dialout user, two projectors' configs"
inside sh -c 'dpkg -i /packages/*.deb' >"$work/dpkg.log" 2>&1 \
  || { cat "$work/dpkg.log" >&2; fail "dpkg -i of the built packages failed"; }
inside getent passwd qv550 >/dev/null || fail "the package made no user qv550"
inside id -nG qv550 | grep -qw dialout || fail "the user qv550 is not in the group dialout"
inside useradd -m -G dialout alice
inside mkdir -p /run/rig /etc/qv550 /etc/systemd/system/qv550d@.service.d
# The simulated projectors are on pseudo-terminals, which the unit's device
# list does not name: a real install has a ttyUSB or ttyS instead.
printf '[Service]\nDeviceAllow=char-pts rw\n' | inside tee /etc/systemd/system/qv550d@.service.d/pty.conf >/dev/null
inside mosquitto_passwd -b -c /etc/mosquitto/passwd qv550 broker-secret
inside mosquitto_passwd -b /etc/mosquitto/passwd watcher watching
inside chown mosquitto: /etc/mosquitto/passwd
printf 'listener 1883 127.0.0.1\nallow_anonymous false\npassword_file /etc/mosquitto/passwd\n' \
  | inside tee /etc/mosquitto/conf.d/venue.conf >/dev/null
inside systemctl restart mosquitto
echo broker-secret | inside tee /etc/qv550/broker.password >/dev/null
inside chown qv550: /etc/qv550/broker.password
inside chmod 600 /etc/qv550/broker.password
for name in x y; do
  printf 'port = /run/rig/%s\nname = %s\nmqtt = mqtt://127.0.0.1:1883\nmqtt-user = qv550\nmqtt-password-file = /etc/qv550/broker.password\n' \
    "$name" "$name" | inside tee "/etc/qv550/$name.conf" >/dev/null
done
inside systemctl daemon-reload

phase "qv550d@x starts under systemd and stays up with its hardening"
rig x
inside systemctl start qv550d@x
wait_for "qv550d@x says it serves its line" 30 bash -c "nsenter -t $leader -m -u -i -n -p -- journalctl -u qv550d@x -o cat | grep -q 'serving /run/rig/x'"
wait_for "qv550-cli --config through qv550d@x as a dialout user" 30 via_owner --config /etc/qv550/x.conf
[ "$(show x ActiveState)" = active ] || fail "qv550d@x is $(show x ActiveState)"
[ "$(show x NRestarts)" = 0 ] || fail "qv550d@x was restarted $(show x NRestarts) times: $(inside journalctl -u qv550d@x -o cat | tail -5)"
exposure="$(inside systemd-analyze security qv550d@x.service 2>/dev/null | tail -1)"
echo "    systemd-analyze security: $exposure"
awk '{ if ($(NF-2) + 0 > 2.0) exit 1 }' <<<"$exposure" || fail "exposure over 2.0: $exposure"
socket=/run/qv550/run_rig_x.sock
case "$(inside stat -c '%U:%G %a %F' "$socket")" in
  "qv550:dialout 660 socket" | "qv550:dialout 770 socket") ;;
  *) fail "the socket is $(inside stat -c '%U:%G %a %F' "$socket"), not for qv550 and the group dialout alone" ;;
esac
[ "$(inside stat -c '%U:%G %a' /run/qv550)" = "qv550:dialout 2750" ] \
  || fail "/run/qv550 is $(inside stat -c '%U:%G %a' /run/qv550)"
as_alice qv550-cli --config /etc/qv550/x.conf power-on >/dev/null || fail "power-on through qv550d@x failed"
inside useradd -M nobody2
out="$(inside runuser -u nobody2 -- qv550-cli --config /etc/qv550/x.conf status 2>&1)" \
  && fail "a user outside dialout reached the line: $out"
wait_for "qv550/x/availability is online on the broker" 20 available x online

phase "kill -9: restarted, offline told by the will meanwhile"
pid="$(show x MainPID)"
inside kill -9 "$pid"
wait_for "the broker says qv550/x is offline after kill -9" 10 available x offline
wait_for "qv550d@x is restarted after kill -9" 30 bash -c \
  "[ \"\$(nsenter -t $leader -m -u -i -n -p -- systemctl show -p NRestarts --value qv550d@x)\" = 1 ]"
wait_for "qv550d@x answers on its socket again after its restart" 30 reaches_owner --config /etc/qv550/x.conf
# A killed program cannot take back its exclusive hold of a pseudo-terminal,
# whose other end socat keeps open (a ttyUSB or ttyS is let go at its last
# close): the restarted qv550d, without capabilities, is refused the same
# pseudo-terminal, so the projector is plugged in again.
unrig x
rig x
wait_for "qv550d@x serves again after its restart" 30 via_owner --config /etc/qv550/x.conf
wait_for "qv550/x is online again" 20 available x online

phase "reload: a new config is taken in the same process, a bad one is told and kept out"
pid="$(show x MainPID)"
inside sed -i 's/^name = x$/name = x-renamed/' /etc/qv550/x.conf
inside systemctl reload qv550d@x
wait_for "qv550d@x publishes under its new name after a reload" 20 available x-renamed online
[ "$(show x MainPID)" = "$pid" ] || fail "the reload started a new process"
[ "$(show x ActiveState)" = active ] || fail "qv550d@x is $(show x ActiveState) after the reload"
wait_for "qv550d@x serves after a reload" 30 via_owner --config /etc/qv550/x.conf
echo "speed = 1234" | inside tee -a /etc/qv550/x.conf >/dev/null
inside systemctl reload qv550d@x
wait_for "qv550d@x tells that the bad config is not taken" 20 bash -c \
  "nsenter -t $leader -m -u -i -n -p -- journalctl -u qv550d@x -o cat | grep -q 'not reloaded'"
[ "$(show x MainPID)" = "$pid" ] && [ "$(show x ActiveState)" = active ] || fail "a bad config ended qv550d@x"
via_owner --port /run/rig/x || fail "qv550d@x stopped serving after a bad reload"
inside sed -i '/^speed = 1234$/d' /etc/qv550/x.conf
# A password file the new run could not read is refused the same way.
inside sed -i 's|^mqtt-password-file = .*|mqtt-password-file = /etc/qv550/missing.password|' /etc/qv550/x.conf
inside systemctl reload qv550d@x
wait_for "qv550d@x tells that a config with an unreadable password file is not taken" 20 bash -c \
  "nsenter -t $leader -m -u -i -n -p -- journalctl -u qv550d@x -o cat | grep -q 'not reloaded.*missing.password'"
[ "$(show x MainPID)" = "$pid" ] && [ "$(show x ActiveState)" = active ] || fail "an unreadable password file ended qv550d@x"
inside sed -i 's|^mqtt-password-file = .*|mqtt-password-file = /etc/qv550/broker.password|' /etc/qv550/x.conf
[ "$(show x NRestarts)" = 1 ] || fail "reloads counted as restarts: $(show x NRestarts)"

phase "a device that appears after the start, and comes back under another node"
inside systemctl start qv550d@y
[ "$(show y ActiveState)" = active ] || fail "qv550d@y without its device is $(show y ActiveState)"
rig y
wait_for "qv550d@y is found by the name it was given, once its device appeared" 30 via_owner --port /run/rig/y
node="$(inside readlink -f /run/rig/y)"
wait_for "qv550d@y is found by its device's node $node" 10 via_owner --port "$node"
unrig y
# The freed nodes are taken, so the device comes back under others.
inside systemd-run --quiet --unit=rig-other --collect socat pty,raw,echo=0 pty,raw,echo=0
wait_for "another pair took the freed nodes" 10 bash -c "nsenter -t $leader -m -u -i -n -p -- test -e $node"
rig y
again="$(inside readlink -f /run/rig/y)"
[ "$again" != "$node" ] || fail "the device came back under the same node $node"
wait_for "qv550d@y is found by the name it was given after the replug" 30 via_owner --port /run/rig/y
wait_for "qv550d@y is found by its new node $again" 10 via_owner --port "$again"
out="$(as_alice qv550-cli --port "$again" status 2>&1)" || fail "qv550-cli --port $again: $out"
inside systemctl stop rig-other
# The service tells its outage in its own words, not the panel's.
said="$(inside journalctl -u qv550d@y -o cat)"
grep -q 'qv550d keeps trying' <<<"$said" || fail "qv550d@y's journal does not say it keeps trying: $(tail -5 <<<"$said")"
if grep -qE 'F5|The panel' <<<"$said"; then fail "qv550d@y's journal speaks as the panel: $(grep -E 'F5|The panel' <<<"$said")"; fi

phase "stop: offline on the broker, the socket gone"
inside systemctl stop qv550d@y
wait_for "the broker says qv550/y is offline after a stop" 10 available y offline
inside test ! -e /run/qv550/run_rig_y.sock || fail "the stopped qv550d@y left its socket"

phase "upgrade: running instances restarted on the new program, stopped ones left stopped"
inside systemctl enable qv550d@x >/dev/null 2>&1
pid="$(show x MainPID)"
inside dpkg -i /packages-next/qv550-cli_next.deb >"$work/upgrade.log" 2>&1 \
  || { cat "$work/upgrade.log" >&2; fail "the upgrade failed"; }
wait_for "qv550d@x runs a new process after the upgrade" 30 bash -c \
  "p=\$(nsenter -t $leader -m -u -i -n -p -- systemctl show -p MainPID --value qv550d@x); [ \$p != 0 ] && [ \$p != $pid ]"
exe="$(inside readlink "/proc/$(show x MainPID)/exe")"
[ "$exe" = /usr/bin/qv550d ] || fail "qv550d@x runs $exe after the upgrade"
[ "$(show y ActiveState)" = inactive ] || fail "the upgrade started the stopped qv550d@y"
wait_for "qv550d@x serves after the upgrade" 30 via_owner --config /etc/qv550/x.conf

phase "removal stops the instances; purge leaves no link behind"
inside dpkg -r qv550-cli >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg -r failed"; }
[ "$(show x ActiveState)" = inactive ] || fail "qv550d@x is $(show x ActiveState) after removal"
inside dpkg -P qv550-cli >>"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg -P failed"; }
links="$(inside find /etc/systemd/system -name 'qv550d@*' -type l)"
[ -z "$links" ] || fail "left after purge: $links"

phase "done"
echo "the container test passed in $((SECONDS - began)) s"
