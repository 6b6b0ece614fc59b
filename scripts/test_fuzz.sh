#!/usr/bin/env bash
# The fuzz part of the test suite: builds the fuzz targets, replays every
# committed corpus input (fuzz/corpus/<target>/) and then fuzzes each target
# for a few seconds from a fixed seed, so that a regression on a stored input
# or a shallow new failure stops the suite. Longer runs: scripts/fuzz.sh.
#
#   bash scripts/test_fuzz.sh [SECONDS_PER_TARGET]   (default 5)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

seconds="${1:-5}"
bash scripts/build_fuzz.sh

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
status=0
for corpus in fuzz/corpus/*/; do
  target="$(basename "$corpus")"
  binary="build-fuzz/fuzz/fuzz_${target}"
  inputs=("$corpus"*)
  # Replay: every stored input once (-runs=0: read the corpus, fuzz nothing).
  if ! "$binary" -runs=0 "$corpus" >"$scratch/$target.replay.log" 2>&1; then
    echo "FAIL ${target}: a corpus input fails; log:" >&2
    tail -n 40 "$scratch/$target.replay.log" >&2
    status=1
    continue
  fi
  # Short bounded run from a fixed seed, new inputs kept out of the tree.
  mkdir -p "$scratch/$target"
  dict=()
  [[ -f "fuzz/dict/${target}.dict" ]] && dict=(-dict="fuzz/dict/${target}.dict")
  if ! "$binary" "$scratch/$target" "$corpus" -seed=1 -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 "${dict[@]}" -artifact_prefix="$scratch/$target-" >"$scratch/$target.fuzz.log" 2>&1; then
    echo "FAIL ${target}: fuzzing found a failing input; log:" >&2
    tail -n 40 "$scratch/$target.fuzz.log" >&2
    for crash in "$scratch/$target"-*; do
      [[ -e "$crash" ]] && cp "$crash" "build-fuzz/" && echo "  input kept as build-fuzz/$(basename "$crash")" >&2
    done
    status=1
    continue
  fi
  runs="$(grep -o 'Done [0-9]* runs' "$scratch/$target.fuzz.log" | grep -o '[0-9]*' || echo '?')"
  echo "ok   ${target}: ${#inputs[@]} corpus inputs replayed, ${runs} fuzzed runs in ${seconds} s"
done
exit "$status"
