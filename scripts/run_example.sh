#!/usr/bin/env bash
# Runs lineharvest on the bundled image pair (graf1 -> graf3 of OpenCV's
# sample data): installs what is missing, builds the MEX module, runs the
# example from Octave and prints the report (counts, precision, recall). The
# picture of the result goes to example-output/graf/graf_result.png.
#
#   bash scripts/run_example.sh [--regenerate] [--build-dir DIR] [--output-dir DIR]
#
#   --regenerate      first rebuild the example inputs in example/graf/ with
#                     the preparation tool (tools/), which needs OpenCV's
#                     imgproc, imgcodecs and calib3d development packages
#                     (installed when missing); the tool's unit tests run
#                     before it does
#   --build-dir DIR   build directory of the MEX module (build)
#   --output-dir DIR  where lineharvest runs (example-output/graf)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

regenerate=0
build_dir="$root/build"
output_dir="$root/example-output/graf"
while (($#)); do
  case "$1" in
    --regenerate) regenerate=1 ;;
    --build-dir) build_dir="$(realpath -m "$2")"; shift ;;
    --output-dir) output_dir="$(realpath -m "$2")"; shift ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run_example.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

started=$SECONDS
bash scripts/install_deps.sh
installed=$SECONDS

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target lineharvest_mex
built=$SECONDS

# Octave's own history file is not wanted here (and fails to save where the
# home directory has no ~/.local/share).
octave=(octave-cli --no-gui --norc --quiet --no-history)
paths="addpath('$root/matlab', '$root/example', '$build_dir/mex');"

if ((regenerate)); then
  tool_packages=(libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-calib3d-dev opencv-doc)
  missing=()
  for package in "${tool_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
      || missing+=("$package")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
  cmake -S tools -B "$build_dir/tools" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_dir/tools" -j2
  (cd "$build_dir/tools" && ctest --output-on-failure)
  data=/usr/share/doc/opencv-doc/examples/data
  "$build_dir/tools/prepare_example" "$data/graf1.png" "$data/graf3.png" "$data/H1to3p.xml" \
    "$root/example/graf"
  "${octave[@]}" --eval "$paths prepare_example_grid('$root/example/graf');"
fi

echo
"${octave[@]}" --eval "$paths lineharvest_example('OutputDir', '$output_dir');"
echo "  setup             $((installed - started)) s installing, $((built - installed)) s building"
