#!/usr/bin/env bash
# A collection against today's batch: 20 Oxford images (bikes, boat, graf,
# wall; img1..img5), every two once (190 pairs), 2 workers. Prints pairs
# per second of both (target >= 4x), the identity of every pair with the
# single-pair command, a pair of two scenes from cached features (target
# <= 0.2 s), a collection killed half way and rerun, the workers' peak
# memory (benchmarks/python/bench_collection.py). The figures mean little on
# a busy machine: the load is printed before and after.
#
#   bash benchmarks/bench_collection.sh [BUILD_DIR] [SAMPLE]
#
# SAMPLE k: today's batch (the slow side) on every k-th pair only.
#
# Needs the Oxford images in $OXFORD (default /work/shared/data/oxford) and
# the package installed in BUILD_DIR/python-venv (scripts/test_python.sh
# makes it) or LH_PYTHON naming an interpreter that imports it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$(realpath -m "${1:-$root/build}")"
python="${LH_PYTHON:-$build_dir/python-venv/bin/python}"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target linematch_command >/dev/null
if ! "$python" -c "import lineharvest, distributed, h5py; lineharvest.load_collection" 2>/dev/null; then
  echo "bench_collection: $python does not import lineharvest (with the matcher), distributed and h5py;" \
       "run scripts/test_python.sh first or set LH_PYTHON" >&2
  exit 1
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$python" "$root/benchmarks/python/bench_collection.py" "$work" "$build_dir/matcher/linematch" "${2:-1}"
