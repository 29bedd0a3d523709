#!/usr/bin/env bash
# package_test.sh -- builds the Debian package with CPack, unpacks it into a
# scratch root and checks what a user relies on: the command on the PATH
# links to the program beside its panel files, the program starts from there
# (it runs until stopped instead of ending with 255), the package depends on
# the Qt 6 libraries, and the desktop entry and icon are in place.
# Usage: package_test.sh <build-dir>
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
deb=$(ls "$work"/out/quenta-ascii_*.deb)
dpkg-deb -x "$deb" "$work/root"

fail() { echo "FAIL: $*"; exit 1; }
[ "$(readlink "$work/root/usr/bin/quenta-ascii")" = ../libexec/quenta-ascii/quenta-ascii ] || fail "bin/quenta-ascii link"
for f in usr/libexec/quenta-ascii/ascii_e.uir usr/libexec/quenta-ascii/ascii.uir usr/bin/quenta-sim \
         usr/share/applications/quenta-ascii.desktop usr/share/icons/hicolor/scalable/apps/quenta-ascii.svg; do
  [ -e "$work/root/$f" ] || fail "$f missing"
done
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no dependency on the Qt 6 widgets library"

# Started through the link, the program finds its panel files and runs.
status=0
QT_QPA_PLATFORM=offscreen timeout 3 "$work/root/usr/bin/quenta-ascii" 2>/dev/null || status=$?
[ "$status" = 124 ] || fail "the unpacked program ended with $status instead of running"
echo "package ok: $(basename "$deb")"
