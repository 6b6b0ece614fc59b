#!/usr/bin/env bash
# Tests the Python package and the Octave package: builds the MEX files (the
# tests compare against them), creates a virtual environment on Debian's
# Python (build/python-venv, with the system's NumPy and pytest), installs
# the package into it from this tree without build isolation and without a
# package index, and runs the pytest suite in python/tests, which also makes
# the Octave package archive and installs it into a temporary prefix.
# LH_PYTHON_SANITIZE=1 also runs the tests on a sanitizer build (see below).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

if [[ "${LH_SKIP_DEPS:-0}" != 1 ]]; then
  bash scripts/install_deps.sh
fi

jobs="$(nproc)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
# The linematch command too: match_images and match_pairs are compared with
# it (match_pairs on pairs that warp_image makes).
cmake --build build -j"$jobs" --target lineharvest_mex coordsift_mex epipolarscreen_mex linematch_command warp_image

# Debian's interpreter: the first python3 on PATH may be another build that
# does not see Debian's python3-* packages.
python=/usr/bin/python3
venv="$root/build/python-venv"
rm -rf "$venv" "$root/build/python-setuptools"
"$python" -m venv --system-site-packages "$venv"
# LINEHARVEST_MATCHER=1: the line matcher's OpenCV modules are installed
# here (scripts/install_deps.sh), so a build without match_images is a fault.
LINEHARVEST_MATCHER=1 LINEHARVEST_BUILD_JOBS="$jobs" "$venv/bin/pip" install --quiet --no-build-isolation --no-index "$root"

# Run from outside the source tree, so that the installed package is the
# one imported.
cd "$root/build"
"$venv/bin/python" - <<'PY'
import lineharvest, sys
if "python-venv" not in lineharvest.__file__:
    sys.exit(f"imported {lineharvest.__file__} instead of the installed package")
print(f"lineharvest {lineharvest.__version__} from {lineharvest.__file__}")
PY
LINEHARVEST_REQUIRE_MEX=1 LINEHARVEST_MEX_DIR="$root/build/mex" \
  LINEHARVEST_REQUIRE_MATCHER=1 LINEHARVEST_LINEMATCH="$root/build/matcher/linematch" \
  LINEHARVEST_WARP_IMAGE="$root/build/matcher/warp_image" \
  "$venv/bin/python" -m pytest -q -p no:cacheprovider "$root/python/tests"

# On request, the binding and the cores again under AddressSanitizer and
# UndefinedBehaviorSanitizer (a CMake build of the module beside a copy of
# the package's Python files; the sanitizer runtime is preloaded into
# Debian's interpreter). The comparisons that start Octave are left out.
if [[ "${LH_PYTHON_SANITIZE:-0}" == 1 ]]; then
  san="$root/build-python-sanitize"
  mkdir -p "$san/package/lineharvest"
  cp "$root"/python/lineharvest/*.py "$san/package/lineharvest/"
  cmake -S "$root" -B "$san/build" -DCMAKE_BUILD_TYPE=Debug -DLH_SANITIZE=ON -DLH_BUILD_PYTHON=ON \
    -DLH_BUILD_MEX=OFF -DLH_BUILD_TESTS=OFF -DPYTHON_EXECUTABLE="$python" \
    -DLH_PYTHON_OUTPUT_DIR="$san/package/lineharvest" > /dev/null
  cmake --build "$san/build" -j"$jobs" --target lineharvest_python
  PYTHONPATH="$san/package" \
  LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
  ASAN_OPTIONS=detect_leaks=0 \
    "$python" -m pytest -q -p no:cacheprovider "$root/python/tests" \
      --deselect "$root/python/tests/test_octave_package.py" -k "not mex"
fi
