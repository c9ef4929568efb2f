#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages from debian/ (scripts/package.sh), then once
# more as a distribution would, from the source package alone (dpkg-source
# -x of the .dsc, dpkg-buildpackage in that copy), in two folders under the
# build folder given, and checks them as Debian would: both builds byte for
# byte the same; debian/'s links kept as links; the project's hardening
# (stack-clash protection and CET in the compiler's flags, immediate binding
# in the programs); lintian at
# --pedantic with nothing to report on the source and every binary package; the
# desktop entry and AppStream data through their validators; the files each
# package must hold; one version everywhere; every program's --help and
# --version from the unpacked packages.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-$root/build}")"
first="$build/package-check-1"
second="$build/package-check-2"
started=$SECONDS
"$root/scripts/package.sh" "$first" >/dev/null
echo "scripts/package.sh built the packages in $((SECONDS - started)) s"
for link in "$root"/debian/*; do
  if [ -L "$link" ] && [ ! -L "$first/src/debian/$(basename "$link")" ]; then
    echo "scripts/package.sh made the link debian/$(basename "$link") a file"; exit 1
  fi
done
# The distribution's route: nothing but the .dsc and its tarball, in a clean
# copy, with the dates dpkg-buildpackage takes itself.
started=$SECONDS
rm -rf "$second"
mkdir -p "$second"
cp "$first"/*.dsc "$first"/*.tar.* "$second/"
(cd "$second" && dpkg-source -x ./*.dsc src >"$second/build.log" 2>&1 \
  && cd src && env -u SOURCE_DATE_EPOCH dpkg-buildpackage -b -us -uc >>"$second/build.log" 2>&1) \
  || { tail -40 "$second/build.log"; echo "the rebuild from the .dsc failed"; exit 1; }
echo "the rebuild from the .dsc took $((SECONDS - started)) s"
for deb in "$first"/*.deb; do
  cmp "$deb" "$second/$(basename "$deb")" \
    || { echo "the rebuild from the .dsc differs from scripts/package.sh: $(basename "$deb")"; exit 1; }
done
echo "scripts/package.sh and a rebuild from the .dsc gave identical packages: $(cd "$first" && ls *.deb | tr '\n' ' ')"
# Our objects carry CET's marks; the programs cannot yet, as bookworm's C
# library start files lack them, so the compiler's flags are what is checked.
grep -q -e '-fstack-clash-protection' "$first/build.log" && grep -q -e '-fcf-protection' "$first/build.log" \
  || { echo "the Debian build compiled without stack-clash protection or CET"; exit 1; }

lintian --pedantic --display-info --fail-on error,warning,info,pedantic --tag-display-limit 0 \
  "$first"/*.dsc "$first"/*.deb 2> >(grep -v "root privileges" >&2)

version="$(sed -n 's/^project(qv550_control VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")"
changelog="$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)"
[ "$version" = "$changelog" ] || { echo "CMake says $version, debian/changelog $changelog"; exit 1; }

unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
holds() { # PACKAGE PATH...
  local deb="$first/$1_${version}_amd64.deb" contents
  contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
  shift
  for path in "$@"; do
    grep -qxF "$path" <<<"$contents" || { echo "missing from $(basename "$deb"): $path"; exit 1; }
  done
  dpkg-deb -x "$deb" "$unpacked"
}
holds qv550-control ./usr/bin/qv550-control \
  ./usr/share/applications/org.qv550.control.desktop ./usr/share/metainfo/org.qv550.control.metainfo.xml \
  ./usr/share/icons/hicolor/scalable/apps/org.qv550.control.svg \
  ./usr/share/icons/hicolor/48x48/apps/org.qv550.control.png ./usr/share/icons/hicolor/64x64/apps/org.qv550.control.png \
  ./usr/share/icons/hicolor/128x128/apps/org.qv550.control.png ./usr/share/icons/hicolor/256x256/apps/org.qv550.control.png \
  ./usr/share/man/man1/qv550-control.1.gz ./usr/share/doc/qv550-control/copyright
holds qv550-cli ./usr/bin/qv550-cli ./usr/share/bash-completion/completions/qv550-cli \
  ./usr/share/man/man1/qv550-cli.1.gz ./usr/share/doc/qv550-cli/copyright ./usr/bin/qv550d ./usr/share/man/man8/qv550d.8.gz \
  ./lib/systemd/system/qv550d@.service ./usr/lib/sysusers.d/qv550-cli.conf \
  ./usr/share/doc/qv550-cli/examples/qv550-power-off@.service ./usr/share/doc/qv550-cli/examples/qv550-power-off@.timer \
  ./usr/share/doc/qv550-cli/examples/example.conf
holds qv550-sim ./usr/bin/qv550-sim ./usr/share/man/man1/qv550-sim.1.gz ./usr/share/doc/qv550-sim/copyright
for program in qv550-control qv550-cli qv550d qv550-sim; do
  readelf -d "$unpacked/usr/bin/$program" | grep -q 'FLAGS.*BIND_NOW' || { echo "$program is not bound at once"; exit 1; }
done
for program in qv550-cli qv550d; do
  if ldd "$unpacked/usr/bin/$program" | grep -q -e Widgets -e Gui; then
    echo "$program links the window libraries"; exit 1
  fi
done

# The units as systemd reads them, in a root of this system's units and the
# package: anything it says (an unknown key, a missing program) fails.
units="$(mktemp -d)"
trap 'rm -rf "$unpacked" "$units"' EXIT
mkdir -p "$units/lib/systemd/system" "$units/etc/systemd/system" "$units/etc/qv550"
cp -a /lib/systemd/system/. "$units/lib/systemd/system/"
cp -a "$unpacked/." "$units/"
cp "$unpacked"/usr/share/doc/qv550-cli/examples/qv550-power-off@.* "$units/etc/systemd/system/"
touch "$units/etc/qv550/hall.conf"
# The unit's reload runs procps' kill, which the package depends on.
mkdir -p "$units/bin"
cp /bin/kill "$units/bin/"
said="$(systemd-analyze verify --man=no --root="$units" qv550d@hall.service qv550-power-off@hall.service \
  qv550-power-off@hall.timer 2>&1)" || { echo "$said"; exit 1; }
[ -z "$said" ] || { echo "systemd-analyze verify: $said"; exit 1; }
# Its hardening, scored as systemd scores it (at most 2.0 of 10 exposed).
systemd-analyze security --offline=true --threshold=20 "$unpacked/lib/systemd/system/qv550d@.service" | tail -1

desktop-file-validate "$unpacked/usr/share/applications/org.qv550.control.desktop"
appstreamcli validate --no-net --pedantic "$unpacked/usr/share/metainfo/org.qv550.control.metainfo.xml"
grep -q "<release version=\"$version\"" "$unpacked/usr/share/metainfo/org.qv550.control.metainfo.xml" \
  || { echo "the AppStream data has no release $version"; exit 1; }
# Each output is read whole before it is looked at: a reader that stops at
# its first match would end a longer writer with SIGPIPE, which pipefail
# takes for the program's failure.
for program in qv550-control qv550-cli qv550-sim qv550d; do
  help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$unpacked/usr/bin/$program" --help)
  [ -n "$help" ] || { echo "$program --help printed nothing"; exit 1; }
  said=$(env -u DISPLAY -u WAYLAND_DISPLAY "$unpacked/usr/bin/$program" --version)
  [ "$said" = "$program $version" ] || { echo "$program --version is not $version: $said"; exit 1; }
  page=$(zcat "$unpacked"/usr/share/man/man*/"$program".[18].gz)
  grep -qF "\"$program $version\"" <<<"${page%%$'\n'*}" \
    || { echo "the man page of $program is not of $version"; exit 1; }
done
echo "the packages pass lintian --pedantic, desktop-file-validate, appstreamcli and systemd-analyze, hold their files, carry version $version throughout, and their programs run"
