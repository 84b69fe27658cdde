#!/usr/bin/env bash
# Builds the Debian package of pellan-sync and tolvarftp (a release build,
# stripped, prefix /usr) and prints its path: build/package/pellan_*.deb.
# Install it with `dpkg -i` (or `apt install ./build/package/pellan_*.deb`,
# which also fetches what it depends on).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build desktop package
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLAN_TESTS=OFF -DPELLAN_BENCH=OFF >/dev/null
cmake --build build/package -j"$(nproc)"
(cd build/package && cpack -B "$PWD" >/dev/null)
ls build/package/pellan_*.deb
