#!/usr/bin/env bash
# The listing benchmarks: the parser alone over 10,000 lines, then
# `tolvarftp ls` against `curl` over a real FTP server on loopback (a folder
# of 10,000 files; the ratio of wall times is printed). Installs curl with the
# other benchmark tools, and the test servers (Debian 12, as root).
#   scripts/bench-listing.sh [--server pure-ftpd|vsftpd|pyftpdlib] [--files N] [--rounds N] [--active]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh build test bench
bash scripts/setup-test-servers.sh

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$root" -B build/normal "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLAN_BENCH=ON >/dev/null
cmake --build build/normal -j "$(nproc)" --target tolvarftp listing_bench listing_bench_vs_curl >/dev/null

build/normal/bench/listing_bench
build/normal/bench/listing_bench_vs_curl "$@"
