#!/usr/bin/env bash
# Installs the Debian packages needed to build and test the modules, when
# any of them is missing. Run as root on Debian 12.
#   bash scripts/install_deps.sh [--matcher]
#   --matcher  also the OpenCV modules of the two-image line matcher
#              (imgproc, imgcodecs, calib3d, contrib's line_descriptor) and
#              the sample photographs its tests and example use (opencv-doc)
set -euo pipefail

CORE_PACKAGES=(g++ cmake make pkg-config libgtest-dev googletest libopencv-core-dev octave liboctave-dev)
# Extra packages of the bundled image-pair example.
EXAMPLE_PACKAGES=(opencv-doc)
# The fuzz targets are built with clang; libFuzzer and clang's sanitizer
# runtimes come in libclang-rt-14-dev (not pulled in without recommends).
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

MATCHER_PACKAGES=(libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-calib3d-dev libopencv-contrib-dev opencv-doc)

wanted=("${CORE_PACKAGES[@]}" "${EXAMPLE_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}")
if [[ "${1:-}" == "--matcher" ]]; then
  wanted+=("${MATCHER_PACKAGES[@]}")
fi

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
else
  echo "All required packages are installed."
fi
