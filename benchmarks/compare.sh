#!/usr/bin/env bash
# Compares the speed and the outputs of an older commit's MEX modules with
# the current tree's, and measures the current core on its own:
#
#   benchmarks/compare.sh OLD_COMMIT [--runs N] [--scenes graf,large,huge]
#                         [--old-distinct N] [--no-coordsift] [--work DIR]
#
#  1. builds the current tree (Release) and OLD_COMMIT (Release, from
#     `git archive`) side by side in the work folder (build-compare/); both
#     with hidden visibility, the old MEX files renamed lineharvest_old.mex
#     and coordsift_old.mex, so that one Octave process loads both;
#  2. makes the benchmark scenes (bench_scene.m, fixed seed) once;
#  3. in ONE Octave process, times old and new lineharvest alternately on
#     every scene (median of N runs, default 5) and checks that the returned
#     matrices and the Addcandidates.txt files are identical; then coordsift
#     on 10^6 distinct points and on 10^7 points in 1,024 groups (the old,
#     quadratic module gets the first --old-distinct points of the distinct
#     table, default 200,000: all 10^6 take it about 13 minutes);
#  4. peak memory of the new lineharvest on the largest scene asked for, in
#     a process of its own, against the host's baseline;
#  5. 1 against 2 threads on "large" (or the largest scene asked for)
#     through the C++ API, and coordsift through the C++ API, with a program
#     built against the installed cores (find_package(lineharvest)).
#
# The old build needs the entry point of its MEX files exported under hidden
# visibility: the current tree's cmake/mex_entry_export.h is put ahead of
# the old gateways, as the current build does for its own.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

old_commit=""
runs=5
scenes="graf,large,huge"
old_distinct=200000
coordsift=yes
work="$root/build-compare"
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --scenes) scenes="$2"; shift 2 ;;
    --old-distinct) old_distinct="$2"; shift 2 ;;
    --no-coordsift) coordsift=no; shift ;;
    --work) work="$2"; shift 2 ;;
    -h|--help) sed -n '2,27p' "$0"; exit 0 ;;
    -*) echo "compare.sh: unknown option $1" >&2; exit 2 ;;
    *) old_commit="$1"; shift ;;
  esac
done
if [ -z "$old_commit" ]; then
  echo "usage: benchmarks/compare.sh OLD_COMMIT [--runs N] [--scenes graf,large,huge] [--old-distinct N] [--no-coordsift] [--work DIR]" >&2
  exit 2
fi
if [ "$runs" -lt 5 ]; then
  echo "compare.sh: note: fewer than 5 runs per median ($runs)" >&2
fi
jobs=2
mkdir -p "$work"
work="$(cd "$work" && pwd)"
old_rev="$(git -C "$root" rev-parse --verify "$old_commit^{commit}")"

echo "== building the current tree"
cmake -S "$root" -B "$work/new" -DCMAKE_BUILD_TYPE=Release -DLH_BUILD_TESTS=OFF \
      -DCMAKE_CXX_FLAGS=-fvisibility=hidden > "$work/new-configure.log"
cmake --build "$work/new" -j"$jobs" > "$work/new-build.log"
cmake --install "$work/new" --prefix "$work/prefix" > "$work/new-install.log"

echo "== building $old_commit ($old_rev)"
rm -rf "$work/old-src" "$work/old-mex"
mkdir -p "$work/old-src" "$work/old-mex"
git -C "$root" archive "$old_rev" | tar -x -C "$work/old-src"
# The old gateways sit where that commit has them: lineharvest/gateway.cpp
# and coordsift/gateway.cpp in older trees, gateway/<module>/ in newer ones.
for gateway in "$work"/old-src/{lineharvest,coordsift}/gateway.cpp \
               "$work"/old-src/gateway/{lineharvest,coordsift}/*.cpp; do
  [ -f "$gateway" ] || continue
  sed -i "1i #include \"$root/cmake/mex_entry_export.h\"" "$gateway"
done
cmake -S "$work/old-src" -B "$work/old" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS=-fvisibility=hidden > "$work/old-configure.log"
cmake --build "$work/old" -j"$jobs" --target lineharvest_mex coordsift_mex > "$work/old-build.log"
cp "$work/old/mex/lineharvest.mex" "$work/old-mex/lineharvest_old.mex"
cp "$work/old/mex/coordsift.mex" "$work/old-mex/coordsift_old.mex"

# Two builds in one host must not share symbols: only mexFunction may be
# exported from the project's own code.
for module in "$work"/new/mex/*.mex "$work"/old-mex/*.mex; do
  if nm -D --defined-only "$module" | grep -E ' (lineharvest|coordsift|mexargs)' > /dev/null; then
    echo "compare.sh: $module exports project symbols; the comparison would be unsound" >&2
    exit 1
  fi
done

echo "== scenes ($scenes)"
mkdir -p "$work/scenes"
octave-cli --no-gui --norc --quiet --eval "addpath('$root/benchmarks', '$root/matlab', '$work/new/mex');
  for s = strsplit('$scenes', ','), bench_scene(s{1}, '$work/scenes'); end" 2>&1 | grep --line-buffered -v 'preparing to exit' || true

echo "== old ($old_commit) against new, one process, median of $runs runs"
octave-cli --no-gui --norc --quiet "$root/benchmarks/compare_modules.m" "$work/new/mex" "$work/old-mex" \
  "$work/scenes" "$runs" "$scenes" "$coordsift" "$old_distinct" 2>&1 | grep --line-buffered -v 'preparing to exit'

largest="${scenes##*,}"
echo "== peak memory of the new lineharvest on $largest (a process of its own)"
octave-cli --no-gui --norc --quiet "$root/benchmarks/peak_memory.m" "$work/new/mex" "$work/scenes" "$largest" \
  2>&1 | grep --line-buffered -v 'preparing to exit'

echo "== the C++ API: threads and coordsift"
cmake -S "$root/benchmarks" -B "$work/bench-core" -DCMAKE_PREFIX_PATH="$work/prefix" > "$work/bench-core-configure.log"
cmake --build "$work/bench-core" > "$work/bench-core-build.log"
thread_scene=large
case ",$scenes," in *,large,*) ;; *) thread_scene="$largest" ;; esac
"$work/bench-core/bench_core" threads "$work/scenes/$thread_scene" "$runs"
if [ "$coordsift" = yes ]; then
  "$work/bench-core/bench_core" coordsift "$runs"
fi
