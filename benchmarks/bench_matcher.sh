#!/usr/bin/env bash
# Times the whole two-image line matcher (segments, descriptors, seed
# checks, transfer rounds) on graf1 -> graf3, median of RUNS runs (5), in a
# Release build. Target: under 1.5 s on a 2-core machine.
#
#   bash benchmarks/bench_matcher.sh [RUNS] [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${1:-5}"
build_dir="$(realpath -m "${2:-$root/build}")"
data=/usr/share/doc/opencv-doc/examples/data
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target bench_linematch >/dev/null
"$build_dir/matcher/bench_linematch" "$data/graf1.png" "$data/graf3.png" "$runs" 1
