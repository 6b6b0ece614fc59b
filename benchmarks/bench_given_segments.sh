#!/usr/bin/env bash
# The caller's own segments against detected ones of the same count: per
# mosaic size K (make_mosaic, matched against its warp by warp_image
# --shift 0.08 --seed 3), matchLines on the detected segments, then
# matchSegments on as many random segments per image of the detected
# segments' typical length (LENGTH, 30 px) and on as many with both
# endpoints uniform over the image (long ones, crossing much of it). One
# thread; bench_given_segments prints the stage times.
#
#   bash benchmarks/bench_given_segments.sh [BUILD_DIR]
#   environment: SIZES ("4 14"), LENGTH (30), UNIFORM (1: also the uniform ones)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$(realpath -m "${1:-$root/build}")"
sizes="${SIZES:-4 14}"
length="${LENGTH:-30}"
uniform="${UNIFORM:-1}"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target bench_given_segments warp_image make_mosaic >/dev/null
bin="$build_dir/matcher"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for k in $sizes; do
  "$bin/make_mosaic" "$k" "$work/mosaic$k.png" >/dev/null
  "$bin/warp_image" "$work/mosaic$k.png" "$work/warped$k.png" "$work/H$k.txt" --shift 0.08 --seed 3
  line="$("$bin/bench_given_segments" "$work/mosaic$k.png" "$work/warped$k.png" detected)"
  echo "mosaic $k x $k: $line"
  # The larger of the two detected counts, for both images.
  n="$(sed -E 's/^detected: ([0-9]+) \+ ([0-9]+) .*/\1 \2/' <<<"$line" | awk '{print ($1 > $2 ? $1 : $2)}')"
  echo "mosaic $k x $k: $("$bin/bench_given_segments" "$work/mosaic$k.png" "$work/warped$k.png" random "$n" "$length") (length $length)"
  if [[ "$uniform" == 1 ]]; then
    echo "mosaic $k x $k: $("$bin/bench_given_segments" "$work/mosaic$k.png" "$work/warped$k.png" random "$n") (uniform endpoints)"
  fi
done
