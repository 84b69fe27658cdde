#!/usr/bin/env bash
# Installs the real FTP servers the interoperability tests talk to, and the
# test account they log in with. Idempotent and quiet when all is in place.
# Debian 12, as root; only Debian's package repository is needed.
#
#   pyftpdlib  python3-pyftpdlib, run with Debian's /usr/bin/python3
#   vsftpd     installed with apt (its daemon is never started or enabled)
#   pure-ftpd  conflicts with vsftpd as a package, so its .deb is unpacked
#              into /opt/pellan-test/pure-ftpd and only its libraries are
#              installed
#
# The test account (system user pellanftp) has a SHA-512 crypt hash: the
# default yescrypt hash makes every login cost a tenth of a second, and
# pure-pw's default argon2id several seconds. The tests' launchers
# (tests/support/ftp_servers.cpp) know the same name, password and hash.
set -euo pipefail

prefix=/opt/pellan-test
user=pellanftp
# openssl passwd -6 -salt pellantestsalt pellan-test-pw
hash='$6$pellantestsalt$IFpuEZ3AoLJzn0V2oSxHyMwz6KuRkxOnfrWqYp8dBl8zSLY1QiUSD4JqOeOwlxtJRTqnsAbx9PiAKAgz2MO010'
pam_service=/etc/pam.d/pellan-ftp-test

say() { echo "setup-test-servers: $*" >&2; }

if [ "$(id -u)" -ne 0 ]; then
  say "not root: nothing set up (the tests of servers that are missing are skipped)"
  exit 0
fi

installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]; }

export DEBIAN_FRONTEND=noninteractive
apt_opts=(-y -qq --no-install-recommends -o DPkg::Lock::Timeout=300)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Runs a command with its output kept aside, shown only when it fails.
quiet() {
  "$@" >"$log" 2>&1 || {
    cat "$log" >&2
    say "failed: $*"
    return 1
  }
}
updated=0
apt_update() {
  if [ $updated -eq 0 ]; then
    quiet apt-get update -qq -o DPkg::Lock::Timeout=300
    updated=1
  fi
}

# A package's maintainer scripts must not start a system-wide daemon on port
# 21: policy-rc.d answering 101 forbids it (put in place only for the install
# when the machine has none).
with_no_daemons() {
  local made=0
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
    chmod 755 /usr/sbin/policy-rc.d
    made=1
  fi
  local rc=0
  "$@" || rc=$?
  [ $made -eq 0 ] || rm -f /usr/sbin/policy-rc.d
  return $rc
}

# pure-ftpd's own package is never installed, only what its binary links to.
pkgs=(python3 python3-pyftpdlib vsftpd openssl libcap2 libcrypt1 libpam0g libsodium23 libssl3)
missing=()
for p in "${pkgs[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  apt_update
  with_no_daemons quiet apt-get install "${apt_opts[@]}" "${missing[@]}"
fi

# The packaged vsftpd service stays off: the tests start their own instances.
if [ -e /etc/init.d/vsftpd ] || [ -e /lib/systemd/system/vsftpd.service ]; then
  if command -v systemctl >/dev/null && systemctl is-enabled --quiet vsftpd 2>/dev/null; then
    systemctl disable --quiet vsftpd 2>/dev/null || true
  fi
  if ls /etc/rc[2-5].d/S*vsftpd >/dev/null 2>&1; then
    update-rc.d vsftpd disable >/dev/null 2>&1 || true
  fi
  if [ -d /run/systemd/system ] && systemctl is-active --quiet vsftpd 2>/dev/null; then
    systemctl stop vsftpd || true
  elif [ -e /run/vsftpd.pid ] || pgrep -x -f '/usr/sbin/vsftpd( /etc/vsftpd.conf)?' >/dev/null; then
    /etc/init.d/vsftpd stop >/dev/null 2>&1 || true
  fi
fi

# pure-ftpd, unpacked privately (a system-wide one is used when present).
if [ ! -x /usr/sbin/pure-ftpd ] && [ ! -x "$prefix/pure-ftpd/usr/sbin/pure-ftpd" ]; then
  say "unpacking pure-ftpd into $prefix/pure-ftpd"
  apt_update
  work=$(mktemp -d)
  chmod 755 "$work"  # apt's download user writes here
  (cd "$work" && quiet apt-get download -qq pure-ftpd)
  rm -rf "$prefix/pure-ftpd.new"
  mkdir -p "$prefix/pure-ftpd.new"
  dpkg-deb -x "$work"/pure-ftpd_*.deb "$prefix/pure-ftpd.new"
  rm -rf "$work" "$prefix/pure-ftpd"
  mv "$prefix/pure-ftpd.new" "$prefix/pure-ftpd"
fi

# The test account: no shell, no home of any use, SHA-512 hash.
mkdir -p "$prefix/home"
if ! getent passwd "$user" >/dev/null; then
  useradd --system --no-create-home --home-dir "$prefix/home" --shell /usr/sbin/nologin "$user"
fi
chown "$user:" "$prefix/home"
if [ "$(getent shadow "$user" | cut -d: -f2)" != "$hash" ]; then
  usermod -p "$hash" "$user"
fi

# vsftpd's PAM service of its own: Debian's refuses users without a login
# shell, and pam_unix's delay after a failed password would slow the tests.
pam_text='# Pellan test servers: password check of the local test account only.
auth     required pam_unix.so nodelay
account  required pam_unix.so
session  required pam_permit.so'
if [ "$(cat "$pam_service" 2>/dev/null || true)" != "$pam_text" ]; then
  printf '%s\n' "$pam_text" >"$pam_service"
fi

# The last word: every server binary is there.
for b in /usr/bin/python3 /usr/sbin/vsftpd; do
  [ -x "$b" ] || { say "missing $b after set-up"; exit 1; }
done
/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null || { say "pyftpdlib does not import"; exit 1; }
[ -x /usr/sbin/pure-ftpd ] || [ -x "$prefix/pure-ftpd/usr/sbin/pure-ftpd" ] || { say "missing pure-ftpd"; exit 1; }
exit 0
