#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs one of them.
#   scripts/fuzz.sh                 list the targets
#   scripts/fuzz.sh NAME [SECONDS]  fuzz NAME (default 60 s); new inputs go to
#                                   build/fuzz/corpus-NAME, crashes to build/fuzz/
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh build test fuzz

if [ $# -eq 0 ]; then
  ls tests/fuzz/*_fuzz.cpp | sed 's|.*/||; s|_fuzz.cpp||'
  exit 0
fi
name=$1
seconds=${2:-60}
CXX=clang++-14 cmake -S "$root" -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELLAN_FUZZ=ON -DPELLAN_TESTS=OFF >/dev/null
cmake --build build/fuzz --target "fuzz_$name" -j "$(nproc)"
mkdir -p "build/fuzz/corpus-$name"
cd build/fuzz
"./fuzz_$name" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
  "corpus-$name" "$root/tests/fuzz/corpus/$name"
