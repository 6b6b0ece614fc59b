#!/usr/bin/env bash
# Tests of the two-image line matcher (matcher/): installs what is missing
# (the OpenCV modules it needs and the opencv-doc sample photographs),
# builds it and runs its tests: unit tests of every stage, the accuracy
# floors on graf1 -> graf3 and on a perspective warp of building.jpg, the
# command-line interface and the Octave gateway. A few minutes in all.
#
#   bash scripts/test_matcher.sh [--build-dir DIR] [--sanitize]
#
#   --build-dir DIR  build directory (build, or build-sanitize with --sanitize)
#   --sanitize       build with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

build_dir=""
sanitize=0
while (($#)); do
  case "$1" in
    --build-dir) build_dir="$(realpath -m "$2")"; shift ;;
    --sanitize) sanitize=1 ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test_matcher.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

bash scripts/install_deps.sh --matcher

if ((sanitize)); then
  build_dir="${build_dir:-$root/build-sanitize}"
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DLH_SANITIZE=ON >/dev/null
else
  build_dir="${build_dir:-$root/build}"
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build_dir" -j2 --target matcher_all
(cd "$build_dir" && ctest --output-on-failure -j2 -L matcher)
