#!/usr/bin/env bash
# Makes the Debian package from the build folder given (default build/) and
# checks it as Debian would: lintian with no error and no warning, the desktop
# entry and the AppStream data through their validators, the files it must
# hold, and every program's --help run from the unpacked package.
set -euo pipefail
build="$(cd "${1:-$(dirname "$0")/../build}" && pwd)"
cd "$build"
rm -f qv550-control_*.deb
cpack -G DEB >/dev/null
deb="$(ls -1 "$build"/qv550-control_*.deb)"
echo "package: $deb"

lintian --fail-on error,warning --tag-display-limit 0 "$deb" 2> >(grep -v "root privileges" >&2)

contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for path in \
  ./usr/bin/qv550-control ./usr/bin/qv550-cli ./usr/bin/qv550-sim \
  ./usr/share/applications/org.qv550.control.desktop \
  ./usr/share/metainfo/org.qv550.control.metainfo.xml \
  ./usr/share/icons/hicolor/scalable/apps/org.qv550.control.svg \
  ./usr/share/icons/hicolor/48x48/apps/org.qv550.control.png \
  ./usr/share/icons/hicolor/64x64/apps/org.qv550.control.png \
  ./usr/share/icons/hicolor/128x128/apps/org.qv550.control.png \
  ./usr/share/icons/hicolor/256x256/apps/org.qv550.control.png \
  ./usr/share/man/man1/qv550-control.1.gz ./usr/share/man/man1/qv550-cli.1.gz ./usr/share/man/man1/qv550-sim.1.gz \
  ./usr/share/bash-completion/completions/qv550-cli \
  ./usr/share/doc/qv550-control/copyright ./usr/share/doc/qv550-control/changelog.Debian.gz; do
  grep -qxF "$path" <<<"$contents" || { echo "missing from the package: $path"; exit 1; }
done

unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/org.qv550.control.desktop"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/org.qv550.control.metainfo.xml"
for program in qv550-control qv550-cli qv550-sim; do
  env -u DISPLAY -u WAYLAND_DISPLAY "$unpacked/usr/bin/$program" --help | grep -q . \
    || { echo "$program --help printed nothing"; exit 1; }
done
echo "the package passes lintian, desktop-file-validate and appstreamcli, holds every file, and its programs run"
