#!/usr/bin/env bash
# Configures and builds the fuzz targets in build-fuzz/ with clang (the main
# build uses g++; libFuzzer and its sanitizer runtime come with clang).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

compiler="${LH_FUZZ_CXX:-$(command -v clang++ || command -v clang++-14 || true)}"
if [[ -z "$compiler" ]]; then
  echo "clang++ not found: apt-get install clang libclang-rt-14-dev" >&2
  exit 2
fi
cmake -S . -B build-fuzz -DLH_FUZZ=ON -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"${LH_JOBS:-2}"
