#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
# the C++ unit tests of both cores (plain and under AddressSanitizer and
# UndefinedBehaviorSanitizer) and the Octave tests that load the MEX files.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/install_deps.sh

jobs="$(nproc)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

# The cores again, under the sanitizers (the MEX files run inside Octave,
# which is not built with them).
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DLH_SANITIZE=ON -DLH_BUILD_MEX=OFF
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ctest --output-on-failure -j"$jobs")
