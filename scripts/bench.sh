#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds and runs the benchmarks; each figure is printed beside its
# goal. Arguments go to the panel benchmark (e.g. --flood-seconds 10).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
echo "== Receive path: render and decode by buffer size =="
build/bin/receive_bench --benchmark_counters_tabular=true
echo
echo "== The panel, wall clock =="
build/bin/panel_bench "$@"
echo
echo "== The live state: what polling costs and how fresh it is =="
build/bin/live_bench
echo
echo "== A venue: 20 projectors, 20 qv550d, one MQTT broker =="
build/bin/fleet_bench
echo
echo "== PJLink: Home Assistant's poll, a set to the wire, a held button =="
build/bin/pjlink_bench
echo
echo "== A held button beside scripts: fair waits and a steady period =="
build/bin/hold_bench
