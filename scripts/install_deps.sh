#!/usr/bin/env bash
# Installs the Debian packages needed to build and test the modules, when
# any of them is missing. Run as root on Debian 12.
set -euo pipefail

CORE_PACKAGES=(g++ cmake make pkg-config libgtest-dev googletest libopencv-core-dev octave liboctave-dev)
# The Python package: built with pybind11 into a virtual environment, tested with pytest.
PYTHON_PACKAGES=(python3-dev python3-venv python3-pip python3-setuptools python3-pybind11 pybind11-dev python3-numpy python3-pytest)
# Extra packages of the bundled image-pair example.
EXAMPLE_PACKAGES=(opencv-doc)

missing=()
for package in "${CORE_PACKAGES[@]}" "${PYTHON_PACKAGES[@]}" "${EXAMPLE_PACKAGES[@]}"; do
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
