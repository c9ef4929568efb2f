#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up what is missing and builds the Debian packages from debian/ with
# dpkg-buildpackage, from a copy of the tracked files (build/package/src), so
# the work tree stays clean. The .deb files are left in build/package/ (or
# the folder given).
# Dates in the packages are the date of the last debian/changelog entry, set
# by the release commit: the date dpkg-buildpackage takes when it builds the
# source package anywhere else, so a rebuild from the .dsc gives these bytes.
# debian/'s links stay links, as the source package holds them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
out="$(realpath -m "${1:-build/package}")"
rm -rf "$out"
mkdir -p "$out/src"
git ls-files -z | xargs -0 cp --no-dereference --preserve=links --parents -t "$out/src"
SOURCE_DATE_EPOCH="$(dpkg-parsechangelog -l debian/changelog -S Timestamp)"
export SOURCE_DATE_EPOCH
# The source package (.dsc and .tar.xz), from the clean copy, then the binaries.
(cd "$out" && dpkg-source -b src >"$out/build.log" 2>&1) || { tail -40 "$out/build.log"; exit 1; }
(cd "$out/src" && dpkg-buildpackage -b -us -uc >>"$out/build.log" 2>&1) || { tail -40 "$out/build.log"; exit 1; }
ls -1 "$out"/*.dsc "$out"/*.deb
