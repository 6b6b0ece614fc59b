#!/usr/bin/env bash
# The main example: line matching on a real image pair (graf1 -> graf3 of
# OpenCV's sample data) with no ground truth. Installs what is missing,
# builds the matcher, runs it and prints the side-by-side report: LBD
# descriptor matching alone, this matcher, and the transfer seeded from the
# ground truth (the transfer's upper bound with perfect seeds, not a
# matcher). The ground truth H1to3p.xml only scores the results. Result
# files, picture and report.json go to example-output/graf-matcher/.
#
#   bash scripts/run_example.sh [--ground-truth-seeds] [--regenerate]
#                               [--build-dir DIR] [--output-dir DIR]
#
#   --ground-truth-seeds  instead run the bundled lineharvest example from
#                     Octave: the transfer from 63 seeds drawn from the ground
#                     truth (example/graf/), scored and drawn; this is the
#                     transfer's upper bound with perfect seeds
#   --regenerate      (with --ground-truth-seeds) first rebuild the example
#                     inputs in example/graf/ with the preparation tool
#                     (tools/); the unit tests of its building blocks
#                     (the matcher's pair records and ground truth) run first
#   --build-dir DIR   build directory (build)
#   --output-dir DIR  where the results go (example-output/graf-matcher, or
#                     example-output/graf with --ground-truth-seeds)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

ground_truth_seeds=0
regenerate=0
build_dir="$root/build"
output_dir=""
while (($#)); do
  case "$1" in
    --ground-truth-seeds) ground_truth_seeds=1 ;;
    --regenerate) regenerate=1; ground_truth_seeds=1 ;;
    --build-dir) build_dir="$(realpath -m "$2")"; shift ;;
    --output-dir) output_dir="$(realpath -m "$2")"; shift ;;
    -h|--help) sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run_example.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

data=/usr/share/doc/opencv-doc/examples/data
started=$SECONDS
bash scripts/install_deps.sh --matcher
installed=$SECONDS

if ((!ground_truth_seeds)); then
  output_dir="${output_dir:-$root/example-output/graf-matcher}"
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_dir" -j2 --target linematch_command
  built=$SECONDS
  echo
  "$build_dir/matcher/linematch" "$data/graf1.png" "$data/graf3.png" "$output_dir" \
    --homography "$data/H1to3p.xml" --upper-bound
  echo "  results           $output_dir/{matches.txt,confidence.txt,segments1.txt,segments2.txt,report.json}"
  echo "  picture           $output_dir/matches.png"
  echo "                    blue: seeds, green: correct added, red and ringed: false"
  echo "  setup             $((installed - started)) s installing, $((built - installed)) s building"
  exit 0
fi

output_dir="${output_dir:-$root/example-output/graf}"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target lineharvest_mex
built=$SECONDS

# Octave's own history file is not wanted here (and fails to save where the
# home directory has no ~/.local/share).
octave=(octave-cli --no-gui --norc --quiet --no-history)
paths="addpath('$root/matlab', '$root/example', '$build_dir/mex');"

if ((regenerate)); then
  cmake --build "$build_dir" -j2 --target prepare_example test_pair_records
  "$build_dir/matcher/test_pair_records"
  "$build_dir/tools/prepare_example" "$data/graf1.png" "$data/graf3.png" "$data/H1to3p.xml" \
    "$root/example/graf"
  "${octave[@]}" --eval "$paths prepare_example_grid('$root/example/graf');"
fi

echo
echo "Upper bound with perfect seeds: the seeds are drawn from the ground truth."
"${octave[@]}" --eval "$paths lineharvest_example('OutputDir', '$output_dir');"
echo "  setup             $((installed - started)) s installing, $((built - installed)) s building"
