#!/usr/bin/env bash
# package_test.sh -- builds the Debian package with CPack, unpacks it into a
# scratch root and checks what a user relies on: the command on the PATH
# links to the program beside its panel files, the program starts from there
# (it runs until stopped instead of ending with 255), the package depends on
# the Qt 6 libraries, and the desktop entry and icon are in place. Then the
# ecosystem's own checks: lintian finds no error or warning, appstreamcli
# accepts the metadata and desktop-file-validate the desktop entry; the
# copyright file names the package's maintainer, the changelog its version,
# the man pages of quenta-sim and quenta-monitor every option that their
# --help lists, all three pages the changelog's date, both commands the
# package's upstream version, and systemd-analyze verify the quenta-monitor
# service's unit.
# Usage: package_test.sh <build-dir>
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
deb=$(ls "$work"/out/quenta-ascii_*.deb)
root=$work/root
dpkg-deb -x "$deb" "$root"

fail() { echo "FAIL: $*"; exit 1; }
[ "$(readlink "$root/usr/bin/quenta-ascii")" = ../libexec/quenta-ascii/quenta-ascii ] || fail "bin/quenta-ascii link"
for f in usr/libexec/quenta-ascii/ascii_e.uir usr/libexec/quenta-ascii/ascii.uir usr/bin/quenta-sim usr/bin/quenta-monitor \
         usr/share/applications/quenta-ascii.desktop usr/share/icons/hicolor/scalable/apps/quenta-ascii.svg \
         usr/share/doc/quenta-ascii/copyright usr/share/doc/quenta-ascii/changelog.Debian.gz \
         usr/share/man/man1/quenta-ascii.1.gz usr/share/man/man1/quenta-sim.1.gz usr/share/man/man1/quenta-monitor.1.gz \
         lib/systemd/system/quenta-monitor.service etc/default/quenta-monitor etc/quenta-monitor/chambers.txt; do
  [ -e "$root/$f" ] || fail "$f missing"
done
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no dependency on the Qt 6 widgets library"

# Started through the link, the program finds its panel files and runs.
status=0
QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/quenta-ascii" 2>/dev/null || status=$?
[ "$status" = 124 ] || fail "the unpacked program ended with $status instead of running"

# lintian: exit status 0 and not one error or warning line. --no-cfg keeps a
# lintianrc of the machine from changing what is reported.
status=0
lintian --no-cfg "$deb" >"$work/lintian.txt" 2>&1 || status=$?
if [ "$status" != 0 ] || grep -q '^[EW]: ' "$work/lintian.txt"; then
  cat "$work/lintian.txt"
  fail "lintian ended with $status and reported $(grep -c '^[EW]: ' "$work/lintian.txt") errors and warnings"
fi

# The unit, with ExecStart and man page in the package. Any line about it
# fails: systemd 252 ends with 0 after an unknown key or a bad value.
unit=$work/unit/quenta-monitor.service
mkdir -p "$work/unit"
sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$root/lib/systemd/system/quenta-monitor.service" >"$unit"
status=0
MANPATH=$root/usr/share/man systemd-analyze verify "$unit" >"$work/verify.txt" 2>&1 || status=$?
if [ "$status" != 0 ] || grep -q quenta-monitor "$work/verify.txt"; then
  cat "$work/verify.txt"
  fail "systemd-analyze verify rejects quenta-monitor.service (status $status)"
fi
# The options file holds what the variable of ExecStart needs: options the
# monitor takes and the shipped chambers file, which lists no chamber yet.
var=$(sed -n 's/^ExecStart=.*\$\([A-Z_]*\).*/\1/p' "$unit")
options=$(. "$root/etc/default/quenta-monitor" && echo "${!var:-}")
status=0
"$root/usr/bin/quenta-monitor" ${options//\/etc\//$root/etc/} 2>"$work/options.txt" || status=$?
[ -n "$options" ] && [ "$status" = 2 ] && grep -q "^quenta-monitor: no chambers" "$work/options.txt" ||
  fail "the service's options \"$options\" are not the monitor's: $(cat "$work/options.txt")"
# The exposure figure, for docs/monitor.md: printed, not judged.
systemd-analyze security --offline=yes "$unit" 2>&1 | grep -m1 'Overall exposure' || echo "systemd-analyze security gave no figure"

# AppStream metadata (one file, named after its id) and the desktop entry it launches.
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
[ ${#metainfo[@]} = 1 ] && [ -f "${metainfo[0]}" ] || fail "not exactly one metainfo file: ${metainfo[*]}"
appstreamcli validate --no-net "${metainfo[0]}" >"$work/appstream.txt" 2>&1 &&
  appstreamcli validate-tree --no-net "$root" >>"$work/appstream.txt" 2>&1 ||
  { cat "$work/appstream.txt"; fail "appstreamcli rejects $(basename "${metainfo[0]}")"; }
desktop-file-validate "$root/usr/share/applications/quenta-ascii.desktop" || fail "desktop-file-validate rejects the desktop entry"

# The copyright file's contact is the maintainer; the newest changelog entry
# is the package's version.
grep -qxF "Upstream-Contact: $(dpkg-deb -f "$deb" Maintainer)" "$root/usr/share/doc/quenta-ascii/copyright" ||
  fail "the copyright file does not name the maintainer $(dpkg-deb -f "$deb" Maintainer)"
zcat "$root/usr/share/doc/quenta-ascii/changelog.Debian.gz" >"$work/changelog"
logged=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
[ "$logged" = "$(dpkg-deb -f "$deb" Version)" ] || fail "changelog is at $logged, the package at $(dpkg-deb -f "$deb" Version)"

# options_documented <command>: every long option that "<command> --help"
# lists appears in the command's man page (scdoc writes a dash as "-", other
# man page sources often as "\-").
options_documented() {
  local command=$1 options option pattern
  zcat "$root/usr/share/man/man1/$command.1.gz" >"$work/$command.1"
  options=$("$root/usr/bin/$command" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
  [ -n "$options" ] || fail "$command --help lists no options"
  for option in $options; do
    pattern=$(sed 's/-/\\\\?-/g' <<<"$option")
    grep -qE -- "${pattern}([^a-z-]|\$)" "$work/$command.1" || fail "$command.1 does not describe $option"
  done
}
options_documented quenta-sim
options_documented quenta-monitor

# The man pages carry the newest changelog entry's date, whatever the day of
# the build.
dated=$(date -u -d "$(dpkg-parsechangelog -l "$work/changelog" -S Date)" +%Y-%m-%d)
for command in quenta-ascii quenta-sim quenta-monitor; do
  zcat "$root/usr/share/man/man1/$command.1.gz" | grep -q "^\.TH \"$command\" \"1\" \"$dated\" " ||
    fail "$command.1 is not dated $dated: $(zcat "$root/usr/share/man/man1/$command.1.gz" | grep -m1 '^\.TH')"
done

# The commands tell the package's upstream version.
upstream=$(dpkg-deb -f "$deb" Version); upstream=${upstream%-*}
for command in quenta-sim quenta-monitor; do
  told=$("$root/usr/bin/$command" --version)
  [ "$told" = "$command $upstream" ] || fail "$command --version says \"$told\", the package is at $upstream"
done
echo "package ok: $(basename "$deb")"
