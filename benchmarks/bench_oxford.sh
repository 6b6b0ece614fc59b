#!/usr/bin/env bash
# Runs the line matcher on every 1 -> k pair of every Oxford affine-region
# sequence found in DATA_DIR (a folder per sequence holding img1..img6 in
# PNG, PPM or PGM and H1to2p..H1to6p) and prints precision and recall per
# pair (the project's rule: 2 px, same direction, overlap 0.5), beside the
# one-plane answer, and the means over all pairs. The sequences are not part
# of the project; see docs/benchmarks.md ("Real photographs: the Oxford sequences")
# for where they come from.
#
# The one-plane answer (build/matcher/one_plane) is what a user could write
# with OpenCV instead of the matcher: on the matcher's own segments
# (segments1.txt, segments2.txt), full-resolution SIFT matches (ratio 0.8,
# mutual), one homography (MAGSAC, 3 px), and each image-1 segment paired
# with the image-2 segment that homography carries it onto (2 px, same
# direction, overlap 0.5; the nearest, mutual pairs only). score_matches
# scores it against the supplied homography by the same rule as the
# matcher's report.json. "empty" counts the pairs where an answer has no
# match (thin support, too few point matches, no homography); an empty
# answer has precision 0 in the means.
#
# AP, the average precision of the matcher's confidence.txt (one number in
# [0, 1] per match, in matches.txt's order; "-" when the matcher writes
# none): the matches sorted by confidence, highest first (equal confidences
# keep the file's order, a repeated pair counts once), then
#   AP = sum over ranks k of precision@k * [match k is true] / T,
# T the number of true correspondences (every pair the rule accepts, the
# recall denominator, report.json's true_correspondences). "top half" is
# the precision of the most confident half (rounded up) of the matches.
#
# "LBD alone" is the matcher's descriptor matches (mutual, ratio 0.7) before
# any check, from report.json, or computed the same way by score_matches
# where the matcher did not seek them (enough point seeds).
#
# The last column judges the supplied homography itself (truth_check): of
# the full-resolution SIFT matches, how many it puts within 3 px against a
# homography refitted to them, and how far the two are apart (median):
# where the supplied one is off, correct correspondences read as wrong.
# "s" is the seconds of each program per pair. A pair that fails is a row
# saying so; the table goes on.
#
#   bash benchmarks/bench_oxford.sh [DATA_DIR] [BUILD_DIR] [-- extra linematch options]
#
# DATA_DIR defaults to ../shared/data/oxford (next to the checkout), BUILD_DIR
# to build. The outputs of each pair stay in $OXFORD_OUT (a temporary folder
# by default); the one-plane answer in a new folder beside the matcher's.
# Needs jq and bc (scripts/install_deps.sh).
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
  echo "bench_oxford: no folder $data (see docs/benchmarks.md for where the sequences come from)" >&2
  exit 1
fi
for tool in jq bc; do
  command -v "$tool" >/dev/null || { echo "bench_oxford: needs $tool (scripts/install_deps.sh)" >&2; exit 1; }
done
if [[ -z "${SKIP_BUILD:-}" ]]; then
  cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_dir" -j2 --target linematch_command truth_check one_plane score_matches >/dev/null
fi
linematch="$build_dir/matcher/linematch"
truth_check="$build_dir/matcher/truth_check"
one_plane="$build_dir/matcher/one_plane"
score_matches="$build_dir/matcher/score_matches"
out="${OXFORD_OUT:-$(mktemp -d)}"
mkdir -p "$out"

# Value of key $1 in a line of "key value" pairs on standard input.
field() { awk -v k="$1" '{ for (i = 1; i < NF; i += 2) if ($i == k) { print $(i + 1); exit } }'; }
f1_of() { awk -v p="$1" -v r="$2" 'BEGIN { printf "%.3f", (p + r > 0) ? 2 * p * r / (p + r) : 0 }'; }

image() {  # first of img<k>.png / .ppm / .pgm in $1; nothing (and status 0) when none
  local f
  for f in "$1/img$2.png" "$1/img$2.ppm" "$1/img$2.pgm"; do
    [[ -f "$f" ]] && { echo "$f"; return 0; }
  done
  return 0  # a missing image skips the pair; under set -e a failing status would end the table
}

printf '| pair | true | LBD alone P / R | seeds kept (point / LBD) | linematch matches | P / R | F1 | AP | top half P | status | s | one-plane matches | one-plane P / R | one-plane F1 | one-plane s | truth check |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n'
# One line per pair for the means: pair, then the matcher's matches P R F1
# AP top-half, then the one-plane answer's matches P R F1 ("failed" where
# a program failed, "-" where a figure does not exist).
summary="$(mktemp)"
trap 'rm -f "$summary"' EXIT
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
    # The exit status decides: a run that fails writes nothing, and a
    # report.json left in $OXFORD_OUT by an earlier run is not this pair's.
    status=0
    "$linematch" "$first" "$second" "$dir" --homography "$h" --quiet --no-picture "${extra[@]}" 2>/dev/null || status=$?
    seconds=$(echo "$(date +%s.%N) - $start" | bc)
    report="$dir/report.json"
    if ((status != 0)) || [[ ! -f "$report" ]]; then
      printf '| %s 1-%s | | | | | failed | | | | | | | | | | |\n' "$seq" "$k"
      printf '%s\tfailed\n' "$seq-1-$k" >>"$summary"
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
       ($f1 * 1000 | round / 1000), (.status // "ok"), ($s | tonumber * 10 | round / 10)] | @tsv' "$report" 2>/dev/null) &&
    lm=$(jq -er '.ground_truth.final | "\(.matches) \(.precision) \(.recall)"' "$report" 2>/dev/null) || {
      printf '| %s 1-%s | | | | | failed (report.json unreadable) | | | | | | | | | | |\n' "$seq" "$k"
      printf '%s\tfailed\n' "$seq-1-$k" >>"$summary"
      continue
    }
    IFS=$'\t' read -r -a f <<<"$row"
    # LBD alone where the matcher did not seek LBD (the point seeds were
    # enough): the same descriptors and matching on the same segments,
    # computed by score_matches.
    if [[ "${f[2]}" == "not sought" ]]; then
      if lbd=$("$score_matches" "$dir/segments1.txt" "$dir/segments2.txt" "$dir/matches.txt" "$h" \
               --lbd "$first" "$second" 2>/dev/null); then
        f[2]=$(awk -v p="$(field lbd_precision <<<"$lbd")" -v r="$(field lbd_recall <<<"$lbd")" \
               'BEGIN { printf "%g / %g", int(p * 100 + 0.5) / 100, int(r * 100 + 0.5) / 100 }')
      else
        f[2]="failed"
      fi
    fi

    # The matcher's ranking, when it gives one.
    ap="-" half="-"
    if [[ -f "$dir/confidence.txt" ]]; then
      if ranked=$("$score_matches" "$dir/segments1.txt" "$dir/segments2.txt" "$dir/matches.txt" "$h" \
                  "$dir/confidence.txt" 2>&1); then
        ap=$(field ap <<<"$ranked") half=$(field confident_half_precision <<<"$ranked")
      else
        echo "bench_oxford: $seq 1-$k: $ranked" >&2
        ap="failed" half="failed"
      fi
    fi

    # The one-plane answer on the same segments.
    op_cells=("failed" "" "" "") op="failed"
    if op_dir=$(mktemp -d "$out/$seq-1-$k.one_plane.XXXXXX"); then
      start=$(date +%s.%N)
      if "$one_plane" "$first" "$second" "$dir/segments1.txt" "$dir/segments2.txt" "$op_dir" >/dev/null 2>&1 &&
         op_seconds=$(echo "$(date +%s.%N) - $start" | bc) &&
         scored=$("$score_matches" "$dir/segments1.txt" "$dir/segments2.txt" "$op_dir/matches.txt" "$h" 2>/dev/null); then
        read -r m p r <<<"$(field matches <<<"$scored") $(field precision <<<"$scored") $(field recall <<<"$scored")"
        op_cells=("$m" "$p / $r" "$(f1_of "$p" "$r")" "$(printf '%.1f' "$op_seconds")")
        op="$m $p $r $(f1_of "$p" "$r")"
      fi
    fi

    printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' \
      "${f[@]:0:7}" "$ap" "$half" "${f[7]}" "${f[8]}" "${op_cells[@]}" "$check"
    printf '%s\t%s %s %s %s\t%s\n' "$seq-1-$k" "$lm" "${f[6]}" "$ap" "$half" "$op" >>"$summary"
  done
done

# Means over the pairs each program answered (the summary's columns are
# tab-separated: pair, the matcher's figures, the one-plane answer's).
awk -F'\t' '
  function mean(s, n) { return n ? sprintf("%.3f", s / n) : "-" }
  { pairs += 1 }
  $2 == "failed" { lm_failed += 1; next }
  {
    split($2, a, " ")
    lm_n += 1; lm_p += a[2]; lm_r += a[3]; lm_f += a[4]; lm_empty += (a[1] == 0)
    if (a[5] != "-" && a[5] != "failed") { ap_n += 1; ap += a[5] }
    if (a[6] != "-" && a[6] != "failed") { half_n += 1; half += a[6] }
    if ($3 == "failed") { op_failed += 1; next }
    split($3, b, " ")
    op_n += 1; op_p += b[2]; op_r += b[3]; op_f += b[4]; op_empty += (b[1] == 0)
    if (a[2] < b[2] - 0.03) { worse += 1; worse_pairs = worse_pairs " " $1 }
  }
  END {
    if (!pairs) exit
    printf "\nmeans over %d pairs (linematch failed on %d, the one-plane answer on %d more):\n", pairs, lm_failed, op_failed
    printf "  linematch        F1 %s  precision %s  recall %s  (%d pairs)  empty %d\n", mean(lm_f, lm_n), mean(lm_p, lm_n), mean(lm_r, lm_n), lm_n, lm_empty
    printf "  one-plane answer F1 %s  precision %s  recall %s  (%d pairs)  empty %d\n", mean(op_f, op_n), mean(op_p, op_n), mean(op_r, op_n), op_n, op_empty
    printf "  linematch AP %s over %d pairs with confidence.txt\n", mean(ap, ap_n), ap_n
    if (half_n) printf "  linematch precision of the most confident half %s over %d pairs\n", mean(half, half_n), half_n
    printf "  pairs where linematch precision < one-plane precision - 0.03: %d%s\n", worse, worse ? " (" substr(worse_pairs, 2) ")" : ""
  }' "$summary"
