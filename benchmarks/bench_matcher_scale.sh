#!/usr/bin/env bash
# How the two-image line matcher scales with image size: graf1 -> graf3 and
# mosaics of k x k OpenCV sample photographs (640 x 480 grey tiles,
# make_mosaic), each matched against itself warped by warp_image --shift
# 0.08 --seed 3, with the default settings and THREADS threads (2). Per
# size: the median over RUNS rounds (3) of the whole command and of its
# stages, the share of the stages after detection and description (seed
# checks with the verification, transfer with the pair index table), the
# time per image-1 segment, the processor time, the peak memory (largest
# resident set) and precision / recall against the warp's homography.
# Every round runs every case, so that a change of the machine's load
# touches all alike.
#
# With BASELINE, another build's linematch command, both commands run one
# after the other in every round, so that a busy machine slows both alike;
# the table gives the baseline's median, the speed-up and whether the two
# wrote the same matches.txt.
#
#   bash benchmarks/bench_matcher_scale.sh [RUNS] [BUILD_DIR] [BASELINE]
#   environment: SIZES ("1 2 3 4 6"), BASELINE_SIZES ("1 2 3 4"), THREADS (2)
#
# Needs /usr/bin/time (Debian package time, in scripts/install_deps.sh).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${1:-3}"
build_dir="$(realpath -m "${2:-$root/build}")"
baseline="${3:-}"
sizes="${SIZES:-1 2 3 4 6}"
baseline_sizes="${BASELINE_SIZES:-1 2 3 4}"
threads="${THREADS:-2}"
data=/usr/share/doc/opencv-doc/examples/data

if [[ ! -x /usr/bin/time ]]; then
  echo "bench_matcher_scale: needs /usr/bin/time (apt-get install time)" >&2
  exit 1
fi
if [[ -n "$baseline" && ! -x "$baseline" ]]; then
  echo "bench_matcher_scale: $baseline is not an executable" >&2
  exit 1
fi
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target linematch_command warp_image make_mosaic >/dev/null
bin="$build_dir/matcher"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# run NAME COMMAND IMAGE1 IMAGE2 HOMOGRAPHY: one match into $work/NAME/,
# the peak memory (kB) and the processor time (user + system seconds) in
# $work/NAME/usage.
run() {
  local name="$1" command="$2"
  mkdir -p "$work/$name"
  /usr/bin/time -f "%M %U %S" -o "$work/$name/usage" "$command" "$3" "$4" "$work/$name" --homography "$5" \
    --threads "$threads" --no-picture --quiet
}

# The inputs: NAME IMAGE1 IMAGE2 HOMOGRAPHY COMPARE per case.
cases=(graf)
inputs=("graf $data/graf1.png $data/graf3.png $data/H1to3p.xml yes")
for k in $sizes; do
  "$bin/make_mosaic" "$k" "$work/mosaic$k.png" "$data"
  "$bin/warp_image" "$work/mosaic$k.png" "$work/warped$k.png" "$work/h$k.txt" --shift 0.08 --seed 3
  compare=no
  [[ " $baseline_sizes " == *" $k "* ]] && compare=yes
  cases+=("${k}x$k")
  inputs+=("${k}x$k $work/mosaic$k.png $work/warped$k.png $work/h$k.txt $compare")
done

# Every round runs every case, so that a change of the machine's load in
# the course of the run touches all sizes alike.
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((r = 0; r < runs; r++)); do
  for input in "${inputs[@]}"; do
    read -r name image1 image2 homography compare <<<"$input"
    run "$name.new.$r" "$bin/linematch" "$image1" "$image2" "$homography"
    if [[ -n "$baseline" && "$compare" == yes ]]; then run "$name.old.$r" "$baseline" "$image1" "$image2" "$homography"; fi
  done
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

/usr/bin/python3 - "$work" "$runs" "$threads" "${cases[@]}" <<'EOF'
import filecmp, json, os, statistics, sys

work, runs, threads, cases = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]

def load(name):
    with open(os.path.join(work, name, "report.json")) as f:
        report = json.load(f)
    with open(os.path.join(work, name, "usage")) as f:
        kb, user, system = f.read().split()[-3:]
    report["peak_kb"] = int(kb)
    report["cpu"] = float(user) + float(system)
    return report

def median(reports, key):
    return statistics.median(r["seconds"][key] for r in reports)

print(f"\n{threads} thread(s), medians of {runs} run(s); seconds; 'after' = (checks + transfer) / sum of the stages;")
print("'points' = the point seeds (keypoints, matching, planes, carrying), counted with detection and description")
print("'processor' = user + system time of the whole command (scoring and files included)")
print("| case | pixels | segments (image 1) | whole | segments | points | descriptors | checks | transfer | after | "
      "per segment | processor | peak memory | P / R | baseline whole | speed-up | same matches |")
print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
per_segment = {}
for case in cases:
    new = [load(f"{case}.new.{r}") for r in range(runs)]
    old = [load(f"{case}.old.{r}") for r in range(runs)] if os.path.isdir(os.path.join(work, f"{case}.old.0")) else []
    # Reports of builds without the point seeds have no "points" entry.
    median_of = lambda k: statistics.median(r["seconds"].get(k, 0.0) for r in new)
    stages = {k: median_of(k) for k in ("segments", "points", "descriptors", "seed_checks", "transfer", "total")}
    after = (stages["seed_checks"] + stages["transfer"]) / max(
        sum(stages[k] for k in ("segments", "points", "descriptors", "seed_checks", "transfer")), 1e-12)
    segments = new[0]["segments"]["image1"]
    per_segment[case] = stages["total"] / max(segments, 1)
    if case == "graf":
        pixels = "0.5 MP"
    else:
        k = int(case.split("x")[0])
        pixels = f"{k * k * 640 * 480 / 1e6:.1f} MP"
    final = new[0]["ground_truth"]["final"]
    row = [case, pixels, f"{segments:,}", f"{stages['total']:.2f} s", f"{stages['segments']:.2f}",
           f"{stages['points']:.2f}", f"{stages['descriptors']:.2f}", f"{stages['seed_checks']:.2f}", f"{stages['transfer']:.2f}",
           f"{100 * after:.0f} %", f"{1e6 * per_segment[case]:.0f} µs",
           f"{statistics.median(r['cpu'] for r in new):.2f} s",
           f"{max(r['peak_kb'] for r in new) / 1024:.0f} MB", f"{final['precision']:.3f} / {final['recall']:.3f}"]
    if old:
        base = median(old, "total")
        same = all(filecmp.cmp(os.path.join(work, f"{case}.new.{r}", "matches.txt"),
                               os.path.join(work, f"{case}.old.{r}", "matches.txt"), shallow=False)
                   for r in range(runs))
        row += [f"{base:.2f} s", f"{base / stages['total']:.1f}x", "yes" if same else "NO"]
    else:
        row += ["", "", ""]
    print("| " + " | ".join(row) + " |")
if "1x1" in per_segment and "4x4" in per_segment:
    print(f"\ntime per segment, 4x4 / 1x1: {per_segment['4x4'] / per_segment['1x1']:.2f}")
EOF
