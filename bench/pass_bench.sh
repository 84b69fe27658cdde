#!/usr/bin/env bash
# The folder pass against vsftpd on loopback, side by side with lftp in one
# run: FILES outgoing "T" files of 4 KiB each are uploaded and deleted
# locally by pellan-sync (timed from its login to the last local delete) and
# by `lftp -e "mirror -R --Remove-source-files ..."` on the same files
# (timed as a whole, and less a login-only lftp run): through temporary
# names (pellan-sync's default; lftp's xfer:use-temp-file), then under final
# names (--direct-uploads; lftp's default). Then the CPU time of an idle,
# logged-in pellan-sync over IDLE seconds.
#
#   bash bench/pass_bench.sh            (as root, after scripts/setup-test-servers.sh)
#   FILES=1000 IDLE=60 BUILD=build/normal bash bench/pass_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
files=${FILES:-1000}
idle=${IDLE:-60}
build=${BUILD:-build/normal}
client=$root/$build/pellan-sync
user=pellanftp
password=pellan-test-pw

[ "$(id -u)" -eq 0 ] || { echo "pass_bench: run as root (vsftpd and its test account)" >&2; exit 1; }
bash scripts/install-deps.sh build bench
bash scripts/setup-test-servers.sh
[ -x "$client" ] || { echo "pass_bench: build $client first" >&2; exit 1; }

work=$(mktemp -d /tmp/pellan-pass-bench.XXXXXX)
chmod 755 "$work"  # the server's account must reach its folder
vs_pid=
cl_pid=
# shellcheck source=scripts/stop-process.sh
source "$root/scripts/stop-process.sh"
cleanup() {
  [ -z "$cl_pid" ] || stop "$cl_pid"
  [ -z "$vs_pid" ] || stop "$vs_pid"
  [ -n "${KEEP:-}" ] || rm -rf "$work"
  return 0
}
trap cleanup EXIT

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port)
pasv=$(( (port % 20000) + 30000 ))
served=$work/served
mkdir -p "$served/data" "$work/empty" "$work/home/data" "$work/lftp/data"
chown -R "$user" "$served"
cat >"$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
background=NO
listen_address=127.0.0.1
listen_port=$port
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root=$served
chroot_local_user=YES
allow_writeable_chroot=YES
pam_service_name=pellan-ftp-test
delay_failed_login=0
secure_chroot_dir=$work/empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
pasv_enable=YES
pasv_min_port=$pasv
pasv_max_port=$((pasv + 200))
port_enable=YES
connect_from_port_20=NO
syslog_enable=NO
xferlog_enable=NO
vsftpd_log_file=$work/vsftpd.log
CONF
/usr/sbin/vsftpd "$work/vsftpd.conf" &
vs_pid=$!
for _ in $(seq 100); do
  /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2).close()" 2>/dev/null && break
  sleep 0.05
done

make_files() {  # folder
  /usr/bin/python3 - "$1" "$files" <<'PY'
import os, sys
folder, n = sys.argv[1], int(sys.argv[2])
body = os.urandom(4096)
for i in range(n):
    with open(os.path.join(folder, "T%05d.txt" % i), "wb") as f:
        f.write(body)
PY
}

stop_client() {
  : >"$1/exit.txt"
  for _ in $(seq 100); do kill -0 "$cl_pid" 2>/dev/null || break; sleep 0.1; done
  wait "$cl_pid" 2>/dev/null || true
  cl_pid=
}
# ---- pellan-sync -----------------------------------------------------------
printf '%s\r\n' "$work/home/data" 127.0.0.1 "$port" "$user" "$password" >"$work/home/maoph.txt"
chmod 600 "$work/home/maoph.txt"
pellan_pass() {  # extra arguments of pellan-sync; prints the milliseconds
  rm -f "$served/data"/* "$work/home/succ.txt"
  make_files "$work/home/data"
  XDG_STATE_HOME=$work/state "$client" --home "$work/home" --headless "$@" >"$work/client.out" 2>&1 &
  cl_pid=$!
  /usr/bin/python3 - "$work/home" <<'PY'
import os, sys, time
home = sys.argv[1]
succ = os.path.join(home, "succ.txt")
folder = os.path.join(home, "data")
end = time.monotonic() + 120
while not os.path.exists(succ):
    if time.monotonic() > end: sys.exit("no login")
    time.sleep(0.0005)
t0 = time.monotonic()
while any(n.startswith("T") for n in os.listdir(folder)):
    if time.monotonic() > end: sys.exit("files left")
    time.sleep(0.002)
print("%.1f" % ((time.monotonic() - t0) * 1000))
PY
  stop_client "$work/home"
  rm -f "$work/home/exit.txt"
}
pellan_ms=$(pellan_pass)
sent=$(ls "$served/data" | grep -c '^T' || true)
direct_ms=$(pellan_pass --direct-uploads)

# Idle: a fresh client, logged in, with nothing to move and no replies to
# look for (no upload in the last 120 seconds).
mkdir -p "$work/idle/data"
sed "s|$work/home/data|$work/idle/data|" "$work/home/maoph.txt" >"$work/idle/maoph.txt"
chmod 600 "$work/idle/maoph.txt"
XDG_STATE_HOME=$work/state "$client" --home "$work/idle" --headless >"$work/idle.out" 2>&1 &
cl_pid=$!
for _ in $(seq 200); do [ -e "$work/idle/succ.txt" ] && break; sleep 0.05; done
sleep 2
t_ticks() { awk '{print $14 + $15}' "/proc/$cl_pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(t_ticks)
sleep "$idle"
after=$(t_ticks)
idle_cpu_ms=$(( (after - before) * 1000 / hz ))
stop_client "$work/idle"

# ---- lftp on the same files ------------------------------------------------
lftp_run() {
  lftp -u "$user,$password" -e "set ftp:passive-mode on; set ftp:ssl-allow no; $1; quit" "ftp://127.0.0.1:$port" >/dev/null
}
ms_of() { /usr/bin/python3 -c "import sys,time; t=time.monotonic(); import subprocess; subprocess.run(sys.argv[1:], check=True); print('%.1f' % ((time.monotonic()-t)*1000))" "$@"; }
login_ms=$(ms_of bash -c "$(declare -f lftp_run); user=$user password=$password port=$port lftp_run 'cd data'")
lftp_pass() {  # lftp settings before the mirror; prints the milliseconds
  rm -f "$served/data"/*
  make_files "$work/lftp/data"
  ms_of bash -c "$(declare -f lftp_run); user=$user password=$password port=$port lftp_run '$1 mirror -R --Remove-source-files $work/lftp/data data'"
}
lftp_ms=$(lftp_pass "set xfer:use-temp-file yes;")
left=$(ls "$work/lftp/data" | wc -l)
lftp_direct_ms=$(lftp_pass "")

/usr/bin/python3 - "$files" "$pellan_ms" "$lftp_ms" "$direct_ms" "$lftp_direct_ms" "$login_ms" "$sent" "$left" \
  "$idle" "$idle_cpu_ms" <<'PY'
import sys
n, p, l, pd, ld, login, sent, left, idle, cpu = sys.argv[1:]
n, login = int(n), float(login)
print(f"pass benchmark: {n} T files of 4 KiB, vsftpd on 127.0.0.1")
for what, p, l, ours, theirs in (("temporary names", p, l, "", "set xfer:use-temp-file yes"),
                                 ("final names", pd, ld, " --direct-uploads", "")):
    p, l = float(p), float(l)
    print(f"  {what}:")
    mirror = "lftp mirror" + (f" ({theirs})" if theirs else "")
    print(f"    {'pellan-sync' + ours:40} {p:8.1f} ms  {p/n:6.3f} ms/file  (login to last local delete)")
    print(f"    {mirror:40} {l:8.1f} ms  {l/n:6.3f} ms/file  (whole run)")
    print(f"    ratio pellan-sync / lftp: {p/l:.2f} (whole run), {p/(l - login):.2f} (less lftp's login run, {login:.1f} ms)")
print(f"  with temporary names: {sent} files on the server under final names, {left} left locally by lftp")
print(f"  idle pellan-sync, logged in: {cpu} ms CPU in {idle} s")
PY
