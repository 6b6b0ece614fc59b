#!/usr/bin/env bash
# Times lineharvest.match_pairs (the batch on Dask) on 24 pairs that
# warp_image makes from four opencv-doc photographs (six warps each): pairs
# per second with 2 workers against 1 (alternately, ROUNDS rounds, medians;
# target >= 1.7x on a 2-core machine), Dask's overhead per pair against the
# matching time of graf1 -> graf3 (target < 5 %), identity with the
# linematch command on each pair, and a batch killed at about half way
# whose rerun matches only the pairs left. Prints the machine's load before
# and after: the figures mean little on a busy machine.
#
#   bash benchmarks/bench_batch.sh [ROUNDS] [BUILD_DIR]
#
# Needs the package installed in BUILD_DIR/python-venv (scripts/test_python.sh
# makes it) or LH_PYTHON naming an interpreter that imports it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
rounds="${1:-3}"
build_dir="$(realpath -m "${2:-$root/build}")"
python="${LH_PYTHON:-$build_dir/python-venv/bin/python}"
data=/usr/share/doc/opencv-doc/examples/data
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target linematch_command warp_image >/dev/null
if ! "$python" -c "import lineharvest, distributed; lineharvest.match_pairs" 2>/dev/null; then
  echo "bench_batch: $python does not import lineharvest.match_pairs and distributed;" \
       "run scripts/test_python.sh first or set LH_PYTHON" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
echo "name,image1,image2,homography" > "$work/pairs.csv"
for photo in box_in_scene.png home.jpg left01.jpg aero1.jpg; do
  for seed in 1 2 3 4 5 6; do
    name="${photo%.*}_$seed"
    "$build_dir/matcher/warp_image" "$data/$photo" "$work/$name.png" "$work/$name.txt" --seed "$seed"
    echo "$name,$data/$photo,$name.png,$name.txt" >> "$work/pairs.csv"
  done
done

echo "load before: $(uptime)"
(cd "$work" && "$python" "$root/benchmarks/python/bench_batch.py" "$work" "$build_dir/matcher/linematch" "$rounds")
echo "load after: $(uptime)"
