#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
#  1. the C++ unit tests of the cores and the matcher, the Octave tests of the
#     MEX modules (with the malformed-call campaign), the matcher's accuracy
#     floors and the install check, in a Release build;
#  2. the same again under AddressSanitizer and UndefinedBehaviorSanitizer,
#     the Octave tests with instrumented MEX files;
#  3. the Python package: built into a virtual environment and tested with
#     pytest, the Octave package installed into a temporary prefix;
#  4. the fuzz targets: every stored corpus input replayed, then a short
#     bounded run of each.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/install_deps.sh

jobs="$(nproc)"
failed=()
step() {
  local name="$1"
  shift
  echo
  echo "=== $name"
  if "$@"; then
    echo "=== $name: passed"
  else
    echo "=== $name: FAILED"
    failed+=("$name")
  fi
}

release() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release &&
    cmake --build build -j"$jobs" &&
    (cd build && ctest --output-on-failure -j"$jobs")
}
sanitized() {
  cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DLH_SANITIZE=ON &&
    cmake --build build-sanitize -j"$jobs" &&
    (cd build-sanitize && ctest --output-on-failure -j"$jobs")
}

step "C++ and Octave tests (Release)" release
step "C++ and Octave tests (AddressSanitizer, UndefinedBehaviorSanitizer)" sanitized
step "Python package" env LH_SKIP_DEPS=1 bash scripts/test_python.sh
step "Fuzz corpora and short fuzzing" bash scripts/test_fuzz.sh

echo
if ((${#failed[@]})); then
  echo "Failed: ${failed[*]}"
  exit 1
fi
echo "All test steps passed."
