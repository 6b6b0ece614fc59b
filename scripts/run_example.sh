#!/usr/bin/env bash
# Installs what is missing, builds the MEX modules and runs lineharvest from
# Octave on the bundled example, printing the correspondences it adds.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/install_deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target lineharvest_mex coordsift_mex

mkdir -p example-output
cd example-output
octave-cli --no-gui --norc --quiet --eval \
  "addpath('$root/build/mex', '$root/example/small'); run_small_example();"
