#!/usr/bin/env bash
# Scans started together never share a results folder: several processes scanning the same file
# in the same folder at once (repeated), and one process scanning a.ser and a-2.ser two at a time while
# Results_a already holds files. Each summary then lists exactly the snapshots of its own folder.
set -euo pipefail
serflash=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$work"

"$serflash" synth a.ser --width 64 --height 48 --frames 24 --stars 0 --hot-pixels 0 --no-bright-region \
  --no-dark-region --flash 30,25,8,3000 --flash 20,30,16,3000 >/dev/null
cp a.ser a-2.ser

# Every folder holds one summary, and the snapshots its summary names are the folder's own.
check_folders() {
  local expected=$1 folders
  folders=$(find . -maxdepth 1 -type d -name 'Results_*' | wc -l)
  [ "$folders" -eq "$expected" ] || { ls; fail "$folders results folders for $expected scans"; }
  for d in Results_*/; do
    [ "$(find "$d" -name '*_summary.txt' | wc -l)" -eq 1 ] || { ls "$d"; fail "$d does not hold one summary"; }
    named=$(sed -n 's/^Number of frames that include detections = \([0-9]*\).*/\1/p' "$d"/*_summary.txt | tail -1)
    present=$(find "$d" -name '*.bmp' | wc -l)
    [ "${named:-0}" -gt 0 ] && [ "$named" -eq "$present" ] || fail "$d: the summary counts ${named:-no} snapshots, $present are there"
  done
}

for round in 1 2 3 4 5; do
  mkdir "r$round" && cd "r$round"
  pids=()
  for k in 1 2 3 4; do "$serflash" scan ../a.ser --max 50 >"out$k.txt" 2>&1 & pids+=($!); done
  k=0
  for pid in "${pids[@]}"; do
    k=$((k + 1))
    wait "$pid" || { code=$?; cat "out$k.txt"; fail "round $round: scan $k failed with exit code $code"; }
  done
  rm -f out*.txt
  check_folders 4
  cd ..
done

for round in 1 2 3 4 5; do
  mkdir "j$round" && cd "j$round"
  mkdir Results_a && echo earlier >Results_a/note.txt
  "$serflash" scan ../a.ser ../a-2.ser --jobs 2 --max 50 >out.txt 2>&1 || { cat out.txt; fail "--jobs 2 failed"; }
  rm -rf Results_a out.txt
  check_folders 2
  cd ..
done
echo OK
