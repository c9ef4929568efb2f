#!/usr/bin/env bash
# Sets up what is missing, builds, and makes the Debian package of the three
# programs with CPack; the .deb is left under build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
cd build
cpack -G DEB
ls -1 "$PWD"/qv550-control_*.deb
