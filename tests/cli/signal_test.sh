#!/usr/bin/env bash
# A scan sent SIGTERM or SIGHUP ends as after Ctrl-C: the current file gets its closing block and
# its folder its final name, and the batch says it was stopped.
set -euo pipefail
serflash=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$work"

# Every pixel bright and masked by a wide square: each packet's masks take long, so the scan is
# still running when the signal comes, however fast the machine.
"$serflash" synth slow.ser --width 200 --height 160 --frames 400 >/dev/null
for signal in TERM HUP; do
  rm -rf Results_slow*
  "$serflash" scan slow.ser --reference --mask-red --red 0 --red-mask-size 60 --pack 20 >out.txt 2>err.txt &
  pid=$!
  for _ in $(seq 600); do
    [ -s Results_slow/slow_summary.txt ] && break
    sleep 0.1
  done
  [ -s Results_slow/slow_summary.txt ] || fail "the scan did not start"
  kill -"$signal" "$pid"
  set +e
  wait "$pid"
  rc=$?
  set -e
  expected=$((128 + $(kill -l "$signal")))
  [ "$rc" -eq "$expected" ] || { cat out.txt err.txt; fail "SIG$signal: exit status $rc, not $expected"; }
  folder=$(ls -d Results_slow_s*_*) || fail "SIG$signal: folder not renamed"
  tail -c 200 "$folder/slow_summary.txt" | tr -d '\r' | grep -q "^Number of detections = 0$" ||
    fail "SIG$signal: no closing block"
  grep -q "(stopped by the user)" out.txt || fail "SIG$signal: file line"
  grep -q "^The scans were stopped!" err.txt || fail "SIG$signal: closing message"
  grep -q "completed!" err.txt && fail "SIG$signal: said completed"
done
echo OK
