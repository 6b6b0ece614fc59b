#!/usr/bin/env bash
# Runs the line matcher on every 1 -> k pair of every Oxford affine-region
# sequence found in DATA_DIR (a folder per sequence holding img1..img6 in
# PNG, PPM or PGM and H1to2p..H1to6p) and prints precision and recall per
# pair (the project's rule: 2 px, same direction, overlap 0.5) and the mean
# F1 over all pairs. The sequences are not part of the project; see the
# README ("Real photographs: the Oxford sequences") for where they come from.
# The last column judges the supplied homography itself (truth_check): of
# the full-resolution SIFT matches, how many it puts within 3 px against a
# homography refitted to them, and how far the two are apart (median):
# where the supplied one is off, correct correspondences read as wrong.
#
#   bash benchmarks/bench_oxford.sh [DATA_DIR] [BUILD_DIR] [-- extra linematch options]
#
# DATA_DIR defaults to ../shared/data/oxford (next to the checkout), BUILD_DIR
# to build. The outputs of each pair stay in $OXFORD_OUT (a temporary folder
# by default).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
data="$root/../shared/data/oxford"
build_dir="$root/build"
positional=()
while (($#)); do
  if [[ "$1" == "--" ]]; then shift; break; fi
  positional+=("$1"); shift
done
extra=("$@")
((${#positional[@]} >= 1)) && data="${positional[0]}"
((${#positional[@]} >= 2)) && build_dir="${positional[1]}"
data="$(realpath -m "$data")"
build_dir="$(realpath -m "$build_dir")"
if [[ ! -d "$data" ]]; then
  echo "bench_oxford: no folder $data (see the README for where the sequences come from)" >&2
  exit 1
fi
command -v jq >/dev/null || { echo "bench_oxford: needs jq" >&2; exit 1; }
if [[ -z "${SKIP_BUILD:-}" ]]; then
  cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_dir" -j2 --target linematch_command truth_check >/dev/null
fi
linematch="$build_dir/matcher/linematch"
truth_check="$build_dir/matcher/truth_check"
out="${OXFORD_OUT:-$(mktemp -d)}"

image() {  # first of img<k>.png / .ppm / .pgm in $1
  local f
  for f in "$1/img$2.png" "$1/img$2.ppm" "$1/img$2.pgm"; do
    [[ -f "$f" ]] && { echo "$f"; return; }
  done
}

printf '| pair | true | LBD alone P / R | seeds kept (point / LBD) | linematch matches | P / R | F1 | status | s | truth check |\n'
printf '|---|---|---|---|---|---|---|---|---|---|\n'
rows=()
for seq_dir in "$data"/*/; do
  seq="$(basename "$seq_dir")"
  first="$(image "$seq_dir" 1)"
  [[ -n "$first" ]] || continue
  for k in 2 3 4 5 6; do
    second="$(image "$seq_dir" "$k")"
    h="$seq_dir/H1to${k}p"
    [[ -n "$second" && -f "$h" ]] || continue
    dir="$out/$seq-1-$k"
    start=$(date +%s.%N)
    "$linematch" "$first" "$second" "$dir" --homography "$h" --quiet --no-picture "${extra[@]}" 2>/dev/null || true
    seconds=$(echo "$(date +%s.%N) - $start" | bc)
    report="$dir/report.json"
    if [[ ! -f "$report" ]]; then
      printf '| %s 1-%s | | | | | failed | | | | |\n' "$seq" "$k"
      continue
    fi
    # supplied / refitted within 3 px, median apart (or undecided)
    check=$("$truth_check" "$first" "$second" "$h" 2>/dev/null |
      awk '{ for (i = 1; i < NF; i += 2) v[$i] = $(i + 1) }
           END { if (v["verdict"] == "judged") printf "%s / %s, %s px", v["supplied_within_3px"], v["refitted_within_3px"], v["median_apart_px"]; else print "undecided" }') || check="failed"

    row=$(jq -r --arg s "$seconds" --arg pair "$seq 1-$k" '
      .ground_truth as $g | ($g.final) as $f |
      (if ($f.precision + $f.recall) > 0 then 2 * $f.precision * $f.recall / ($f.precision + $f.recall) else 0 end) as $f1 |
      [$pair, $g.true_correspondences,
       (if .lbd_sought == false then "not sought" else "\($g.descriptor_alone.precision * 100 | round / 100) / \($g.descriptor_alone.recall * 100 | round / 100)" end),
       "\(.stages.seeds_kept) (\(.seed_sources.point.kept // 0) / \(.seed_sources.lbd.kept // .stages.seeds_kept))",
       $f.matches,
       "\($f.precision * 1000 | round / 1000) / \($f.recall * 1000 | round / 1000)",
       ($f1 * 1000 | round / 1000), (.status // "ok"), ($s | tonumber * 10 | round / 10)] | @tsv' "$report")
    IFS=$'\t' read -r -a f <<<"$row"
    printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "${f[@]}" "$check"
    rows+=("${f[6]}")
  done
done
if ((${#rows[@]})); then
  printf '%s\n' "${rows[@]}" | awk '{ s += $1; n += 1 } END { printf "\nmean F1 over %d pairs: %.3f\n", n, s / n }'
fi
