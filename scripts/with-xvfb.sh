#!/usr/bin/env bash
# Runs a command on an X display of its own. The server picks a free display
# number itself (-displayfd), so a display that another X server holds, with
# or without a lock file, is never taken: xvfb-run's guess can be.
set -uo pipefail
fifo=$(mktemp -u /tmp/pellan-xvfb.XXXXXX)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
server=$!
display=""
read -r -t 20 display <"$fifo"
rm -f "$fifo"
if [ -z "$display" ]; then
  kill "$server" 2>/dev/null
  echo "with-xvfb: Xvfb did not start" >&2
  exit 1
fi
DISPLAY=":$display" "$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
exit $status
