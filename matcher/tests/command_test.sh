#!/usr/bin/env bash
# The command-line interface of linematch and warp_image: result files and
# their agreement, exit status and messages for bad inputs.
#   command_test.sh LINEMATCH WARP_IMAGE DATA_DIR
set -uo pipefail
linematch="$1"
warp="$2"
data="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION CONDITION...
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

"$warp" "$data/building.jpg" "$work/warped.png" "$work/H.txt" --shift 0.12 --seed 3
check "warp_image exits 0" test $? -eq 0
check "warp_image writes the image and nine numbers" \
  test -s "$work/warped.png" -a "$(wc -w < "$work/H.txt")" -eq 9

"$linematch" "$data/building.jpg" "$work/warped.png" "$work/out" --homography "$work/H.txt" > "$work/stdout"
check "linematch exits 0" test $? -eq 0
for f in matches.txt segments1.txt segments2.txt matches.png report.json; do
  check "linematch writes $f" test -s "$work/out/$f"
done
n1=$(wc -l < "$work/out/segments1.txt")
n2=$(wc -l < "$work/out/segments2.txt")
check "matches.txt holds 0-based indices into the segment files" \
  awk -v n1="$n1" -v n2="$n2" 'NF != 2 || $1 < 0 || $1 >= n1 || $2 < 0 || $2 >= n2 { bad = 1 } END { exit bad }' \
  "$work/out/matches.txt"
matches=$(wc -l < "$work/out/matches.txt")
check "report.json counts the lines of matches.txt" grep -q "\"matches\": $matches}" "$work/out/report.json"
check "report.json scores against the ground truth" grep -q '"ground_truth"' "$work/out/report.json"
if [[ -x /usr/bin/python3 ]]; then
  check "report.json is valid JSON" /usr/bin/python3 -m json.tool "$work/out/report.json" /dev/null
fi
check "the printed report scores the point seeds and the checked seeds" \
  bash -c "grep -q 'point seed candidates' '$work/stdout' && grep -q 'seeds after the checks' '$work/stdout'"
check "segments are x1 y1 x2 y2" awk 'NF != 4 { bad = 1 } END { exit bad }' "$work/out/segments1.txt"

"$linematch" "$data/building.jpg" "$work/warped.png" "$work/plain" --quiet --no-picture > "$work/stdout"
check "without a homography: no scores, nothing printed with --quiet" \
  test $? -eq 0 -a ! -s "$work/stdout" -a ! -e "$work/plain/matches.png"
check "without a homography the report has no ground truth" bash -c "! grep -q ground_truth '$work/plain/report.json'"
check "the same matches with or without the ground truth" cmp -s "$work/out/matches.txt" "$work/plain/matches.txt"

"$linematch" "$data/building.jpg" "$work/warped.png" "$work/long" --quiet --no-picture --min-length 40
check "--min-length keeps only longer segments" \
  awk '{ if (($3-$1)^2 + ($4-$2)^2 < 40^2 - 0.5) bad = 1 } END { exit bad }' "$work/long/segments1.txt"
check "--min-length keeps fewer segments" test "$(wc -l < "$work/long/segments1.txt")" -lt "$n1"

"$linematch" "$data/building.jpg" "$data/baboon.jpg" "$work/thin" --quiet --no-picture 2> "$work/stderr"
check "two unrelated images: exit 0, thin support on stderr and in report.json, no matches" \
  bash -c "test $? -eq 0 && grep -q 'thin support' '$work/stderr' && grep -q '\"status\": \"thin_support\"' '$work/thin/report.json' && test ! -s '$work/thin/matches.txt'"

expect_failure() {  # expect_failure STATUS MESSAGE ARGS...
  local status="$1" message="$2"
  shift 2
  "$linematch" "$@" > "$work/stdout" 2> "$work/stderr"
  local got=$?
  check "exit $status and '$message' for: $*" \
    bash -c "test $got -eq $status && grep -q -- '$message' '$work/stderr'"
}
printf 'not an image' > "$work/fake.png"
printf '1 0 0\n0 1 0\n' > "$work/short.txt"
expect_failure 1 "cannot read image" "$work/missing.png" "$work/warped.png" "$work/x"
expect_failure 1 "cannot read image" "$work/fake.png" "$work/warped.png" "$work/x"
expect_failure 1 "cannot read image" "$data/building.jpg" "$work/missing.png" "$work/x"
expect_failure 1 "nine numbers" "$data/building.jpg" "$work/warped.png" "$work/x" --homography "$work/short.txt"
expect_failure 1 "cannot be read" "$data/building.jpg" "$work/warped.png" "$work/x" --homography "$work/none.txt"
expect_failure 2 "expected IMAGE1 IMAGE2 OUTDIR" "$data/building.jpg"
expect_failure 2 "unknown option" "$data/building.jpg" "$work/warped.png" "$work/x" --bogus
expect_failure 2 "needs a number" "$data/building.jpg" "$work/warped.png" "$work/x" --rounds many
expect_failure 2 "verify-distance must lie" "$data/building.jpg" "$work/warped.png" "$work/x" --verify-distance nan
expect_failure 2 "verify-distance must lie" "$data/building.jpg" "$work/warped.png" "$work/x" --verify-distance -1
mkfifo "$work/fifo.png"
# A FIFO without a writer must be refused, not block (a hang meets the test's time limit).
expect_failure 1 "cannot read image" "$work/fifo.png" "$work/warped.png" "$work/x"
expect_failure 1 "cannot read image" "$data/building.jpg" "$work" "$work/x"
expect_failure 2 "needs --homography" "$data/building.jpg" "$work/warped.png" "$work/x" --upper-bound
check "a refused call writes no output directory" test ! -e "$work/x"

echo "$failures failed"
exit $((failures > 0))
