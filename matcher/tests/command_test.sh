#!/usr/bin/env bash
# The command-line interface of linematch and warp_image: result files and
# their agreement, exit status and messages for bad inputs.
# The option cases (option_cases.txt) and the bad-image campaign
# (make_bad_images.py) are the ones the MEX and Python tests read too.
#   command_test.sh LINEMATCH WARP_IMAGE DATA_DIR
set -uo pipefail
linematch="$1"
warp="$2"
data="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
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
for f in matches.txt confidence.txt segments1.txt segments2.txt matches.png report.json; do
  check "linematch writes $f" test -s "$work/out/$f"
done
n1=$(wc -l < "$work/out/segments1.txt")
n2=$(wc -l < "$work/out/segments2.txt")
check "matches.txt holds 0-based indices into the segment files" \
  awk -v n1="$n1" -v n2="$n2" 'NF != 2 || $1 < 0 || $1 >= n1 || $2 < 0 || $2 >= n2 { bad = 1 } END { exit bad }' \
  "$work/out/matches.txt"
# report.json of OUTDIR is valid JSON that counts OUTDIR's matches.txt, and
# confidence.txt has one line per match: the three come from one run.
report_counts() {
  /usr/bin/python3 -c 'import json, sys
r = json.load(open(sys.argv[1] + "/report.json"))
lines = lambda name: sum(1 for _ in open(sys.argv[1] + "/" + name))
sys.exit(not r["stages"]["matches"] == lines("matches.txt") == lines("confidence.txt"))' "$1"
}
check "report.json counts the lines of matches.txt and of confidence.txt" report_counts "$work/out"
check "confidence.txt holds one value in [0, 1] per line, four decimals" \
  awk '!/^[01]\.[0-9][0-9][0-9][0-9]$/ || $1 < 0 || $1 > 1 { bad = 1 } END { exit bad }' "$work/out/confidence.txt"
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
expect_failure 1 "No such file" "$data/building.jpg" "$work/warped.png" "$work/x" --homography "$work/none.txt"
expect_failure 2 "expected IMAGE1 IMAGE2 OUTDIR" "$data/building.jpg"
expect_failure 2 "unknown option" "$data/building.jpg" "$work/warped.png" "$work/x" --bogus
expect_failure 2 "needs a number" "$data/building.jpg" "$work/warped.png" "$work/x" --rounds many
mkfifo "$work/fifo.txt"
# A FIFO without a writer must be refused, not block (a hang meets the test's time limit).
expect_failure 1 "is a FIFO" "$data/building.jpg" "$work/warped.png" "$work/x" --homography "$work/fifo.txt"
expect_failure 1 "is a device" "$data/building.jpg" "$work/warped.png" "$work/x" --homography /dev/zero
printf '0 0 0\n0 0 0\n0 0 0\n' > "$work/singular.txt"
expect_failure 1 "must not be singular" "$data/building.jpg" "$work/warped.png" "$work/x" --homography "$work/singular.txt"
expect_failure 2 "needs --homography" "$data/building.jpg" "$work/warped.png" "$work/x" --upper-bound
check "a refused call writes no output directory" test ! -e "$work/x"

# The option cases every front end shares, on two blank 20 x 20 images.
printf 'P5\n20 20\n255\n' > "$work/blank.pgm"
head -c 400 /dev/zero >> "$work/blank.pgm"
while read -r key mex flag value verdict; do
  [[ -z "$key" || "$key" == "#"* ]] && continue
  args=("$flag")
  [[ "$value" != false ]] && args+=("$value")
  "$linematch" "$work/blank.pgm" "$work/blank.pgm" "$work/options" --quiet --no-picture "${args[@]}" \
    > /dev/null 2> "$work/stderr"
  got=$?
  case "$verdict" in
    accept) check "option case $flag $value is accepted" test $got -eq 0 ;;
    refuse) check "option case $flag $value is refused naming $flag" \
              bash -c "test $got -eq 2 && grep -q -- '$flag' '$work/stderr'" ;;
    imageTooLarge) check "option case $flag $value refuses the images as too large" \
              bash -c "test $got -eq 1 && grep -q 'more than the limit' '$work/stderr'" ;;
  esac
done < "$here/option_cases.txt"

# The bad-image campaign: a clear refusal (exit 1, one line naming the file)
# or a valid result; nothing hangs (the test's time limit) or crashes.
/usr/bin/python3 "$here/make_bad_images.py" "$work/bad" "$data" > "$work/manifest" 2> /dev/null
declare -A messages=([imageFile]="cannot read image" [damagedImage]="is damaged" [imageTooLarge]="more than the limit")
while read -r name path expected; do
  rm -rf "$work/campaign"
  "$linematch" "$path" "$work/bad/three.png" "$work/campaign" --quiet > /dev/null 2> "$work/stderr"
  got=$?
  if [[ "$expected" == ok ]]; then
    check "campaign: $name gives a result" bash -c "test $got -eq 0 && test -s '$work/campaign/report.json'"
  else
    check "campaign: $name is refused ($expected)" bash -c "test $got -eq 1 && test \$(wc -l < '$work/stderr') -eq 1 &&
      grep -q '${messages[$expected]}' '$work/stderr' && test ! -e '$work/campaign'"
  fi
done < "$work/manifest"

# A file this user may not read: the message names the permission problem.
# Root reads every file, so as root the command runs as nobody.
cp "$work/bad/three.png" "$work/unreadable.png"
chmod 000 "$work/unreadable.png"
chmod 755 "$work"
as_user=()
if [[ $EUID -eq 0 ]]; then
  command -v setpriv > /dev/null && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
if [[ $EUID -ne 0 || ${#as_user[@]} -gt 0 ]]; then
  "${as_user[@]}" "$linematch" "$work/unreadable.png" "$work/bad/three.png" "$work/denied" 2> "$work/stderr"
  check "an unreadable image is exit 1 naming the permission problem" \
    bash -c "test $? -eq 1 && grep -q 'cannot read image .*unreadable.png: permission denied' '$work/stderr'"
else
  echo "skipped: an unreadable file (running as root without setpriv)"
fi

# An image name in Latin-1 (not UTF-8) still gives valid JSON.
latin1="$work/bad/caf"$'\xe9'".png"
cp "$work/bad/three.png" "$latin1"
"$linematch" "$latin1" "$work/bad/three.png" "$work/latin1" --quiet --no-picture
check "a Latin-1 image name gives a valid report.json" report_counts "$work/latin1"

# Output that is complete or absent. A write that fails (here: a file size
# limit, as a full disk would) is exit 1 naming the file, leaves the earlier
# run's files as they were and no temporary file.
cp -r "$work/plain" "$work/before"
(trap '' XFSZ; ulimit -f 8; "$linematch" "$data/building.jpg" "$work/warped.png" "$work/plain" --quiet --rounds 1) \
  2> "$work/stderr"
check "a failed write is exit 1 naming the file" \
  bash -c "test $? -eq 1 && grep -q 'cannot write .*File too large' '$work/stderr'"
check "a failed write leaves the earlier run's files" diff -r "$work/before" "$work/plain"
# Two runs into one folder at once: the folder ends with one run's files.
for trial in 1 2 3; do
  "$linematch" "$data/building.jpg" "$work/warped.png" "$work/shared" --quiet --rounds 1 --no-picture &
  "$linematch" "$data/building.jpg" "$work/warped.png" "$work/shared" --quiet --min-length 30 &
  wait
  check "two runs into one folder leave one run's files (trial $trial)" report_counts "$work/shared"
  lines=$(wc -l < "$work/shared/segments1.txt")
  check "... and its segments (trial $trial)" /usr/bin/python3 -c 'import json, sys
sys.exit(json.load(open(sys.argv[1]))["segments"]["image1"] != int(sys.argv[2]))' "$work/shared/report.json" "$lines"
done
check "no temporary file is left" test -z "$(find "$work/plain" "$work/shared" -name '.*')"
# Temporaries that a killed run left (SIGKILL cannot be held off) go with
# the next run into the folder; look-alikes that mkstemp does not make for
# the command's files stay.
for f in .matches.txt.Ab12Cd .report.json.zZ9yY8 .matches.png.000000; do echo old > "$work/plain/$f"; done
for f in .notes.txt.Ab12Cd .matches.txt.Ab12C .matches.txt.Ab12Cd7 .matches.txt.Ab-2Cd; do echo mine > "$work/plain/$f"; done
"$linematch" "$data/building.jpg" "$work/warped.png" "$work/plain" --quiet --rounds 1
check "a killed run's temporaries go with the next run, nothing else" \
  test "$(find "$work/plain" -name '.*' -printf '%f ' | tr ' ' '\n' | sort | tr '\n' ' ')" \
  = ".matches.txt.Ab-2Cd .matches.txt.Ab12C .matches.txt.Ab12Cd7 .notes.txt.Ab12Cd "

echo "$failures failed"
exit $((failures > 0))
