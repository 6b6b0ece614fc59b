#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and run everything in
# this repository, when any of them is missing. Run as root on Debian 12.
#   bash scripts/install_deps.sh
# Accepted for older callers: --matcher (everything is installed anyway).
set -euo pipefail

# The cores, the MEX modules and their tests.
CORE_PACKAGES=(g++ cmake make pkg-config libgtest-dev googletest libopencv-core-dev octave liboctave-dev)
# The two-image line matcher (LSD, LBD from contrib's line_descriptor,
# image files, homographies) and the sample photographs of its example and
# accuracy tests.
# libjpeg checks that a JPEG file is whole; nlohmann-json writes report.json.
MATCHER_PACKAGES=(libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-calib3d-dev libopencv-contrib-dev opencv-doc
                  libjpeg-dev nlohmann-json3-dev)
# The Python package, built without build isolation from Debian's packages.
PYTHON_PACKAGES=(python3-dev python3-venv python3-pip python3-setuptools python3-pybind11 pybind11-dev python3-numpy python3-pytest)
# match_pairs and linematch-batch: Dask's distributed scheduler, the progress
# bar and the summary table.
PYTHON_PACKAGES+=(python3-dask python3-distributed python3-tqdm python3-pandas)
# The LocalCluster match_pairs starts speaks TLS with a throw-away certificate
# (distributed.security.Security.temporary).
PYTHON_PACKAGES+=(python3-cryptography)
# A collection's store (OUTDIR/features.h5, matches.h5): HDF5 files any program
# loads (lineharvest.load_collection, Octave's load).
PYTHON_PACKAGES+=(python3-h5py)
# lineharvest.plot_matches (the documented examples draw a pair with it).
PYTHON_PACKAGES+=(python3-matplotlib)
# The fuzz targets are built with clang; libFuzzer and clang's sanitizer
# runtimes come in libclang-rt-14-dev (not pulled in without recommends).
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# benchmarks/bench_matcher_scale.sh reads the peak memory from /usr/bin/time;
# bench_oxford.sh and bench_stereo.sh read report.json with jq and add up
# seconds with bc.
BENCH_PACKAGES=(time jq bc)

missing=()
for package in "${CORE_PACKAGES[@]}" "${MATCHER_PACKAGES[@]}" "${PYTHON_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"; do
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
