#!/usr/bin/env bash
# The main job, shown on one machine: installs what is missing (Debian 12, as
# root), builds pellan-sync, starts a pyftpdlib server on a free loopback
# port with a demo account, lays out a program folder with "maoph.txt",
# outgoing T files in the local folder and incoming R files on the server,
# runs pellan-sync headless until the files have moved, asks it to close
# through "exit.txt" and shows what moved where.
#
#   bash scripts/demo.sh            (PELLAN_DEMO_DIR=DIR keeps the demo there)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

say() { echo "demo: $*"; }

if [ "$(id -u)" -eq 0 ]; then
  bash scripts/install-deps.sh build demo
else
  bash scripts/install-deps.sh build demo || say "continuing with what is installed"
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# PELLAN_BUILD_DIR reuses an existing build (e.g. build/normal).
build=${PELLAN_BUILD_DIR:-build/demo}
mkdir -p "$build"
say "building pellan-sync ($build)"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPELLAN_TESTS=OFF -DPELLAN_BENCH=OFF >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
fi
cmake --build "$build" -j 2 --target pellan-sync >"$build.build.log" 2>&1 || {
  tail -n 60 "$build.build.log"
  exit 1
}
case $build in /*) client=$build/pellan-sync ;; *) client=$root/$build/pellan-sync ;; esac

demo=${PELLAN_DEMO_DIR:-$(mktemp -d /tmp/pellan-demo.XXXXXX)}
mkdir -p "$demo"
home=$demo/home              # the program folder: maoph.txt, logs, companion files
outbox=$home/exchange        # the local folder; the server folder has its name
served=$demo/server          # what the FTP server serves
mkdir -p "$outbox" "$served/exchange"

server_pid=
client_pid=
# shellcheck source=scripts/stop-process.sh
source "$root/scripts/stop-process.sh"
cleanup() {
  [ -z "$client_pid" ] || stop "$client_pid"
  [ -z "$server_pid" ] || stop "$server_pid"
}
trap cleanup EXIT

# A free loopback port, then the server with a writable demo account.
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
user=demo
password=demo-$RANDOM$RANDOM
/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$port" -w -d "$served" -u "$user" -P "$password" \
  >"$demo/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2).close()" 2>/dev/null && break
  sleep 0.1
done
say "pyftpdlib on 127.0.0.1:$port serving $served (user $user)"

# The path file: local folder, server, port, user, password.
printf '%s\r\n' "$outbox" 127.0.0.1 "$port" "$user" "$password" >"$home/maoph.txt"
chmod 600 "$home/maoph.txt"

# What the companion left to send, and a reply left on the server from the
# last batch (cleared before the first upload of this one).
for n in 1 2 3; do
  printf 'order %s\r\nqty %s\r\n' "$n" $((n * 10)) >"$outbox/Torder$n.txt"
done
printf 'kept: not an accepted type\r\n' >"$outbox/Tnotes.doc"
printf 'kept: not an outgoing name\r\n' >"$outbox/order4.txt"
printf 'last batch\r\n' >"$served/exchange/Rstale.txt"

say "before:"
(cd "$demo" && find home/exchange server -type f | sort | sed 's/^/  /')
echo

# Bounded wait: up to $1 tenths of a second for the condition in $2.
wait_for() {
  local i
  for ((i = 0; i < $1; i++)); do
    eval "$2" && return 0
    kill -0 "$client_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

say "running: $client log --home $home --headless"
say "(status lines; the idle ones in between are left out here)"
"$client" log --home "$home" --headless \
  > >(tee "$demo/status.txt" | grep --line-buffered -v -e ':没有文件!$' -e '] 正在运行\.\.\.$' | sed -u 's/^/  | /') \
  2>"$demo/stderr.txt" &
client_pid=$!

ok=1
wait_for 300 '[ ! -e "$outbox/Torder1.txt" ] && [ ! -e "$outbox/Torder3.txt" ]' || ok=0

# The other side answers: its replies appear on the server under their
# final names (written aside first, then renamed, as a companion should).
if [ $ok -eq 1 ]; then
  sleep 1
  for n in 1 2; do
    printf 'reply to order %s\r\naccepted\r\n' "$n" >"$served/exchange/_reply$n"
    mv "$served/exchange/_reply$n" "$served/exchange/Rreply$n.txt"
  done
  wait_for 300 '[ -e "$outbox/Rreply2.txt" ] && [ ! -e "$served/exchange/Rreply2.txt" ] && [ ! -e "$served/exchange/Rreply1.txt" ]' || ok=0
  sleep 0.5
fi

: >"$home/exit.txt"
wait_for 100 false || true
wait "$client_pid" 2>/dev/null || true
client_pid=
rm -f "$home/exit.txt"
echo
say "after:"
(cd "$demo" && find home/exchange server -type f | sort | sed 's/^/  /')
echo
say "local folder (home/exchange): Torder1-3.txt went up and were deleted, Rreply1-2.txt came"
say "down; Tnotes.doc (not an accepted type) and order4.txt (no T) stay."
say "server (server/exchange): Torder1-3.txt arrived; Rstale.txt (last batch) was cleared before"
say "the first upload; Rreply1-2.txt were deleted once they were safely down."
say "the client's log: $home/plnrc.log, its files: $home"
if [ $ok -ne 1 ]; then
  say "FAILED: the files did not move in time (see $demo/stderr.txt and $home/plnrc.err)" >&2
  exit 1
fi
say "done (demo kept in $demo)"
