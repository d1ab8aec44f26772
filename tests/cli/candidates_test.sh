#!/usr/bin/env bash
# serflash scan prints the candidates with their times and writes their files; serflash match
# pairs two stations' lists and names bad files.
set -euo pipefail
serflash=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$work"

"$serflash" synth east.ser --width 96 --height 80 --frames 60 --stars 0 --hot-pixels 0 --no-bright-region \
  --no-dark-region --flash 30,25,20,600,2 --times --fps 25 --start 2026-12-08T21:14:00Z >/dev/null
"$serflash" synth west.ser --width 96 --height 80 --frames 60 --stars 0 --hot-pixels 0 --no-bright-region \
  --no-dark-region --flash 50,40,20,600,2 --seed 9 --times --fps 25 --start 2026-12-08T21:14:00.030Z >/dev/null
"$serflash" scan east.ser west.ser --max 50 >out.txt 2>err.txt || fail "scan exit status"
grep -qx "  candidate 1: frame 20, x 30, y 25, 2026-12-08T21:14:00.800Z, [0-9.]* sigma, flash, noise [0-9.e+-]*" out.txt ||
  { cat out.txt; fail "candidate line of east.ser"; }
east=$(ls -d Results_east_s*)
for f in east_candidates.csv east_candidates.json east_report.html; do
  [ -s "$east/$f" ] || fail "$east/$f missing"
done
"$serflash" match "$east/east_candidates.csv" Results_west_s*/west_candidates.json --out pairs.csv >match.txt ||
  fail "match exit status"
grep -q "^Pairs (peak times at most 50.0 ms apart, plus half of each frame interval): 1$" match.txt ||
  { cat match.txt; fail "30 ms apart not paired"; }
[ "$(wc -l <pairs.csv)" -eq 2 ] || fail "pairs.csv has not one pair"
# Both documents give 25 frames per second: 30 ms is within two half intervals of 20 ms.
"$serflash" match "$east/east_candidates.json" Results_west_s*/west_candidates.json --window-ms 0 >match0.txt
grep -q "at most 0.0 ms apart.*: 1$" match0.txt || fail "half frame intervals not allowed for"

set +e
"$serflash" match missing.csv "$east/east_candidates.csv" 2>err.txt; rc=$?
set -e
[ $rc -eq 2 ] || fail "missing file exit status $rc"
grep -q "missing.csv: cannot be opened" err.txt || fail "missing file message"
"$serflash" match east.ser "$east/east_candidates.csv" 2>err.txt && fail "a SER file read as candidates"
grep -q "east.ser" err.txt || fail "malformed file message"
echo OK
