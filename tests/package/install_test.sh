#!/usr/bin/env bash
# The Debian package made from a build, installed on this machine and taken
# off again: both programs run from /usr/bin, the units name them, the
# manual pages and the service account are there. Skips (77) without root,
# without dpkg-dev, or where a pellan package is installed already.
set -euo pipefail
build=$1
[ "$(id -u)" -eq 0 ] || { echo "needs root"; exit 77; }
command -v dpkg-shlibdeps >/dev/null || { echo "needs dpkg-dev"; exit 77; }
if [ "$(dpkg-query -W -f='${Status}' pellan 2>/dev/null || true)" = "install ok installed" ]; then
  echo "a pellan package is installed here already: left alone"
  exit 77
fi
work=$(mktemp -d)
trap 'dpkg -P pellan >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
(cd "$build" && cpack -B "$work" >/dev/null)
dpkg -i "$work"/pellan_*.deb >/dev/null
/usr/bin/pellan-sync --version | grep -qx 'pellan-sync [0-9.]*'
/usr/bin/tolvarftp --help | grep -q '^Usage: tolvarftp'
grep -q '^ExecStart=/usr/bin/pellan-sync ' /usr/lib/systemd/user/pellan-sync.service \
  /usr/lib/systemd/system/pellan-sync@.service
ls /usr/share/man/man1/pellan-sync.1* /usr/share/man/man1/tolvarftp.1* >/dev/null
getent passwd pellan >/dev/null
dpkg -P pellan >/dev/null
[ ! -e /usr/bin/pellan-sync ] && [ ! -e /usr/lib/systemd/user/pellan-sync.service ]
echo "package: installed, run and removed"
