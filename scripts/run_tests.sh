#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
# the C++ unit tests of both cores and the Octave tests that load the MEX
# files, once plainly and once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/install_deps.sh

jobs="$(nproc)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

# Everything again under AddressSanitizer and UndefinedBehaviorSanitizer:
# the C++ tests, and the Octave tests with instrumented MEX files.
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DLH_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ctest --output-on-failure -j"$jobs")
