#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and fuzzes each for as long as
# asked, one after the other.
#
#   bash scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET ...]
#
# SECONDS_PER_TARGET defaults to 60; TARGET is one of grid_reader, transfer,
# grouping (default: all). Each run starts from the committed seeds in
# fuzz/corpus/<target>/ (only read) and a working corpus in
# build-fuzz/corpus/<target>/ that grows across runs;
# fuzz/dict/<target>.dict, when present, lends the fuzzer its edge tokens. A
# failing input is written to build-fuzz/artifacts/<target>/ and the script
# stops with the fuzzer's exit status. Replay one with
# build-fuzz/fuzz/fuzz_<target> FILE.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

seconds="${1:-60}"
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then targets=(grid_reader transfer grouping); fi

bash scripts/build_fuzz.sh

for target in "${targets[@]}"; do
  binary="build-fuzz/fuzz/fuzz_${target}"
  [[ -x "$binary" ]] || { echo "no fuzz target '$target'" >&2; exit 2; }
  work="build-fuzz/corpus/${target}"
  artifacts="build-fuzz/artifacts/${target}/"
  mkdir -p "$work" "$artifacts"
  dict=()
  [[ -f "fuzz/dict/${target}.dict" ]] && dict=(-dict="fuzz/dict/${target}.dict")
  echo "== fuzzing ${target} for ${seconds} s"
  "$binary" "$work" "fuzz/corpus/${target}" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 "${dict[@]}" -artifact_prefix="$artifacts" -print_final_stats=1
done
