#!/usr/bin/env bash
# Builds the project twice (normal, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs the tests in both. Tests against real
# FTP servers (label interop) and slow tests (label slow) run in the normal
# build only. Installs what is missing first, and the real FTP servers the
# interop tests start (Debian 12, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh build desktop test package
bash scripts/setup-test-servers.sh

jobs=$(nproc 2>/dev/null || echo 2)
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

build() {  # dir, extra cmake arguments...
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" "${generator[@]}" "$@" >"$dir.configure.log" 2>&1 || {
    cat "$dir.configure.log"
    return 1
  }
  cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1 || {
    tail -n 80 "$dir.build.log"
    return 1
  }
}

mkdir -p build
status=0

echo "== normal build"
build build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== sanitizer build (address, undefined)"
build build/asan -DCMAKE_BUILD_TYPE=Debug -DPELLAN_SANITIZE=ON -DCMAKE_CXX_FLAGS=-O1

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== tests: normal build (all labels)"
ctest --test-dir build/normal --output-on-failure -j "$jobs" || status=1
echo "== tests: sanitizer build (without interop and slow)"
ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE 'interop|slow' || status=1

if [ $status -ne 0 ]; then
  echo "test.sh: FAILED" >&2
else
  echo "test.sh: all tests passed"
fi
exit $status
