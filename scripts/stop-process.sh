# Sourced by the scripts that start servers and clients of their own.
# stop PID: ends a process we started: TERM, up to two seconds, then KILL.
stop() {
  local i
  kill "$1" 2>/dev/null || return 0
  for ((i = 0; i < 20; i++)); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
