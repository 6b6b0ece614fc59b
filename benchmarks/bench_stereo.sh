#!/usr/bin/env bash
# Runs the line matcher on rectified stereo pairs with a disparity map of
# the left image (the Middlebury scenes: scenes no single homography
# explains) and prints, per scene, precision and recall of
#   - LBD alone: the matcher's descriptor matches (LBD on the matcher's own
#     segments, mutual, ratio 0.7) before any check, computed by
#     stereo_truth the way the matcher computes them;
#   - linematch, with its average precision when it writes confidence.txt
#     ("-" otherwise; defined as in bench_oxford.sh: matches by confidence,
#     highest first, AP = sum over ranks k of precision@k * [match k is
#     true] / number of true pairs; "top half" the precision of the most
#     confident half);
#   - the one-plane answer (one_plane: SIFT, one MAGSAC homography, the
#     segments it carries onto each other; see bench_oxford.sh);
# and the means over the scenes.
#
# The ground truth (stereo_truth, matcher/bench/disparity_truth.hpp): both
# endpoints of a left segment are shifted by the disparity sampled there,
# (x, y) -> (x - d, y), d the median of the known disparities within 2 px
# of the endpoint, and the shifted segment must pass the project's test
# (2 px from the right segment's line, same direction, overlap 0.5 of the
# shorter). A left segment with an endpoint without known disparity cannot
# be judged: its matches are left out of the precision ("judged" counts
# the left segments that can be). Recall is over every pair the rule
# accepts. Precision is also given apart for
#   - depth-edge segments: somewhere along the segment, the known
#     disparities of the band reaching 3 px to either side of it (looked at
#     in 1-px stations along it) differ by more than 1 px: the band crosses
#     a jump in depth, so one side of the edge is occluded in the other view;
#   - interior segments: all the others.
# An empty answer has precision 0 in the means; "empty" counts them.
#
#   bash benchmarks/bench_stereo.sh [DATA_DIR] [BUILD_DIR] [-- extra linematch options]
#
# DATA_DIR defaults to ../shared/data/middlebury (next to the checkout): a
# folder per scene holding imL.png, imR.png and disp.png (8 or 16 bit, the
# disparity times a scale, 0 where unknown). The scale of a scene is, in
# this order: the number in its scale.txt; for the four Middlebury scenes
# by name, the scale their README gives (tsukuba 16, venus 8, teddy 4,
# cones 4); the environment variable DISPARITY_SCALE. A scene with none of
# these is a row saying so. BUILD_DIR defaults to build. The outputs stay
# in $STEREO_OUT (a temporary folder by default). A scene that fails is a
# row saying so; the table goes on. Needs jq and bc (scripts/install_deps.sh).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
data="$root/../shared/data/middlebury"
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
  echo "bench_stereo: no folder $data" >&2
  exit 1
fi
for tool in jq bc; do
  command -v "$tool" >/dev/null || { echo "bench_stereo: needs $tool (scripts/install_deps.sh)" >&2; exit 1; }
done
if [[ -z "${SKIP_BUILD:-}" ]]; then
  cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_dir" -j2 --target linematch_command one_plane stereo_truth >/dev/null
fi
linematch="$build_dir/matcher/linematch"
one_plane="$build_dir/matcher/one_plane"
stereo_truth="$build_dir/matcher/stereo_truth"
out="${STEREO_OUT:-$(mktemp -d)}"
mkdir -p "$out"

# Value of key $1 in a line of "key value" pairs on standard input.
field() { awk -v k="$1" '{ for (i = 1; i < NF; i += 2) if ($i == k) { print $(i + 1); exit } }'; }

# The disparity scale of scene folder $1 (see the header); nothing when unknown.
scale_of() {
  local s
  if [[ -f "$1/scale.txt" ]]; then
    read -r s <"$1/scale.txt" || true
    echo "$s"
    return 0
  fi
  case "$(basename "$1")" in
    tsukuba) echo 16 ;;
    venus) echo 8 ;;
    teddy | cones) echo 4 ;;
    *) echo "${DISPARITY_SCALE:-}" ;;
  esac
  return 0
}

# The cells of one match set from stereo_truth's line for it ($1):
# matches, P / R, F1, edge P / interior P.
cells() {
  awk '{ for (i = 1; i < NF; i += 2) v[$i] = $(i + 1) }
       END { printf "%s\t%s / %s\t%s\t%s (%s) / %s (%s)", v["matches"], v["precision"], v["recall"], v["f1"],
                    v["edge_precision"], v["edge_matches"], v["interior_precision"], v["interior_matches"] }' <<<"$1"
}

printf '| scene | true pairs | judged left (depth edge) | LBD alone matches | P / R | F1 | edge P (n) / interior P (n) '
printf '| linematch matches | P / R | F1 | AP | top half P | edge P (n) / interior P (n) | status | s '
printf '| one-plane matches | P / R | F1 | edge P (n) / interior P (n) | s |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n'
# One line per scene for the means: scene, then per set (lbd, linematch,
# one_plane) its stereo_truth line, tab-separated ("failed" where it failed).
summary="$(mktemp)"
trap 'rm -f "$summary"' EXIT
empty_row() {  # $1 scene, $2 why
  printf '| %s | | | | | | | | %s | | | | | | | | | | | |\n' "$1" "$2"
  printf '%s\tfailed\n' "$1" >>"$summary"
}
for scene_dir in "$data"/*/; do
  scene="$(basename "$scene_dir")"
  left="$scene_dir/imL.png" right="$scene_dir/imR.png" disparity="$scene_dir/disp.png"
  [[ -f "$left" && -f "$right" && -f "$disparity" ]] || continue
  scale="$(scale_of "$scene_dir")"
  if [[ -z "$scale" ]]; then
    empty_row "$scene" "failed: disparity scale unknown (scale.txt or DISPARITY_SCALE)"
    continue
  fi
  dir="$out/$scene"
  start=$(date +%s.%N)
  status=0
  "$linematch" "$left" "$right" "$dir" --quiet --no-picture "${extra[@]}" 2>/dev/null || status=$?
  seconds=$(echo "$(date +%s.%N) - $start" | bc)
  if ((status != 0)) || [[ ! -f "$dir/report.json" ]]; then
    empty_row "$scene" "failed"
    continue
  fi
  run_status=$(jq -r '.status // "ok"' "$dir/report.json" 2>/dev/null) || run_status="report.json unreadable"

  # The one-plane answer on the matcher's segments.
  op_set=() op_seconds=""
  if op_dir=$(mktemp -d "$out/$scene.one_plane.XXXXXX"); then
    start=$(date +%s.%N)
    if "$one_plane" "$left" "$right" "$dir/segments1.txt" "$dir/segments2.txt" "$op_dir" >/dev/null 2>&1; then
      op_seconds=$(echo "$(date +%s.%N) - $start" | bc)
      op_set=(--set one_plane "$op_dir/matches.txt")
    fi
  fi
  lm_set=(--set linematch "$dir/matches.txt")
  [[ -f "$dir/confidence.txt" ]] && lm_set+=(--confidence "$dir/confidence.txt")

  if ! scored=$("$stereo_truth" "$disparity" "$scale" "$dir/segments1.txt" "$dir/segments2.txt" \
                --lbd "$left" "$right" "${lm_set[@]}" "${op_set[@]}" 2>&1); then
    echo "bench_stereo: $scene: $scored" >&2
    empty_row "$scene" "failed: scoring"
    continue
  fi
  truth=$(sed -n 's/^truth //p' <<<"$scored")
  lbd=$(grep '^set lbd ' <<<"$scored" || true)
  lm=$(grep '^set linematch ' <<<"$scored" || true)
  op=$(grep '^set one_plane ' <<<"$scored" || echo "failed")

  IFS=$'\t' read -r -a lbd_cells <<<"$(cells "$lbd")"
  IFS=$'\t' read -r -a lm_cells <<<"$(cells "$lm")"
  if [[ "$op" == "failed" ]]; then
    op_cells=("failed" "" "" "" "")
  else
    IFS=$'\t' read -r -a op_cells <<<"$(cells "$op")"
    op_cells+=("$(printf '%.1f' "$op_seconds")")
  fi
  printf '| %s | %s | %s (%s) | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' \
    "$scene" "$(field true <<<"$truth")" "$(field judged <<<"$truth")" "$(field depth_edge <<<"$truth")" \
    "${lbd_cells[@]}" "${lm_cells[@]:0:3}" "$(field ap <<<"$lm")" "$(field confident_half_precision <<<"$lm")" \
    "${lm_cells[3]}" "$run_status" "$(printf '%.1f' "$seconds")" "${op_cells[@]}"
  printf '%s\t%s\t%s\t%s\n' "$scene" "$lbd" "$lm" "$op" >>"$summary"
done

# Means over the scenes each answer was scored on.
awk -F'\t' '
  function mean(s, n) { return n ? sprintf("%.3f", s / n) : "-" }
  function add(set, line,    w, nw, i, v) {
    if (line == "failed") { failed[set] += 1; return }
    nw = split(line, w, " ")
    for (i = 3; i < nw; i += 2) v[w[i]] = w[i + 1]
    n[set] += 1; p[set] += v["precision"]; r[set] += v["recall"]; f[set] += v["f1"]
    empty[set] += (v["matches"] == 0)
    if (v["edge_precision"] != "-") { en[set] += 1; ep[set] += v["edge_precision"] }
    if (v["interior_precision"] != "-") { in_[set] += 1; ip[set] += v["interior_precision"] }
    if (v["ap"] != "-") { apn[set] += 1; ap[set] += v["ap"] }
    if (v["confident_half_precision"] != "-") { hn[set] += 1; h[set] += v["confident_half_precision"] }
    precision[set] = v["precision"]
  }
  { scenes += 1 }
  $2 == "failed" { failed["linematch"] += 1; next }
  {
    add("lbd", $2); add("linematch", $3); add("one_plane", $4)
    if ($4 != "failed" && precision["linematch"] < precision["one_plane"] - 0.03) { worse += 1; worse_scenes = worse_scenes " " $1 }
  }
  END {
    if (!scenes) exit
    printf "\nmeans over %d scenes (%d failed, the one-plane answer failed on %d more):\n", scenes, failed["linematch"], failed["one_plane"]
    split("lbd linematch one_plane", sets, " ")
    split("LBD alone,linematch,one-plane answer", names, ",")
    for (k = 1; k <= 3; ++k) {
      s = sets[k]
      printf "  %-16s F1 %s  precision %s  recall %s  edge precision %s  interior precision %s  (%d scenes)  empty %d\n",
             names[k], mean(f[s], n[s]), mean(p[s], n[s]), mean(r[s], n[s]), mean(ep[s], en[s]), mean(ip[s], in_[s]), n[s], empty[s]
    }
    printf "  linematch AP %s over %d scenes with confidence.txt\n", mean(ap["linematch"], apn["linematch"]), apn["linematch"]
    if (hn["linematch"]) printf "  linematch precision of the most confident half %s over %d scenes\n", mean(h["linematch"], hn["linematch"]), hn["linematch"]
    printf "  scenes where linematch precision < one-plane precision - 0.03: %d%s\n", worse, worse ? " (" substr(worse_scenes, 2) ")" : ""
  }' "$summary"
