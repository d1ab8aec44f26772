#!/usr/bin/env bash
# The progress of scan and sensitivity: one line redrawn in place on a terminal (a pseudo-terminal
# made by script), nothing when stderr is piped or with --quiet, and JSON lines with --progress json.
set -euo pipefail
serflash=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$work"

small=(--width 160 --height 120 --stars 0 --hot-pixels 0 --no-bright-region --no-dark-region)
"$serflash" synth a.ser "${small[@]}" --frames 600 --flash 30,20,40 >/dev/null
"$serflash" synth b.ser "${small[@]}" --frames 400 --seed 3 >/dev/null
mkdir tty piped quiet json sens

# --reference reads every frame of every pass, so the run lasts long enough for a redraw or two.
script -qec "'$serflash' scan a.ser b.ser --reference --dir tty" /dev/null >tty.txt || fail "scan under a terminal"
grep -q $'\rfile 1 of 2: a.ser, pass 1 at threshold 60, [0-9]* frames/s, [0-9.]* %' tty.txt ||
  fail "no progress line on the terminal: $(head -c 300 tty.txt | cat -v)"
grep -q ' left' tty.txt || fail "no time left"
# The line is cleared before the file lines.
grep -q $'\r\e\\[Ktty/Results_a_s' tty.txt || fail "the line is not cleared before the results"

"$serflash" scan a.ser b.ser --reference --dir piped >out.txt 2>err.txt || fail "piped scan"
! grep -q 'file 1 of 2' err.txt || fail "progress line when stderr is piped"
! grep -q $'\r' err.txt out.txt || fail "carriage return when piped"
script -qec "'$serflash' scan a.ser --reference --dir quiet --quiet" /dev/null >quiet.txt || fail "quiet scan"
! grep -q 'file 1 of 1' quiet.txt || fail "progress line with --quiet"

"$serflash" scan a.ser b.ser --dir json --progress json >/dev/null 2>json.txt || fail "json scan"
python3 - json.txt <<'PY' || fail "JSON progress lines: $(head -3 json.txt)"
import json, sys
records = []
for line in open(sys.argv[1]):
    if line.startswith("{"):
        records.append(json.loads(line))
assert records, "no record"
last = 0.0
for r in records:
    for key in ("file", "pass", "frame", "frames_total", "fraction", "eta_s"):
        assert key in r, key
    assert r["stage"] == "scan"
    assert 0.0 <= r["fraction"] <= 1.0 and r["fraction"] >= last, r
    last = r["fraction"]
ends = [r["file"] for r in records if r["fraction"] == 1.0]
assert records[-1]["fraction"] == 1.0 and records[-1]["frames_total"] == 1000, records[-1]
assert {"a.ser", "b.ser"} <= {r["file"] for r in records}
PY

"$serflash" sensitivity a.ser --dir sens --per-amplitude 2 --sigmas 6:12:6 --progress json >/dev/null 2>sens.txt ||
  fail "json sensitivity"
python3 - sens.txt <<'PY' || fail "JSON progress of sensitivity: $(tail -3 sens.txt)"
import json, sys
records = [json.loads(l) for l in open(sys.argv[1]) if l.startswith("{")]
stages = [r["stage"] for r in records]
assert "scan" in stages and "sensitivity" in stages, stages
runs = [r for r in records if r["stage"] == "sensitivity"]
assert runs[-1]["run"] == runs[-1]["runs"] and runs[-1]["fraction"] == 1.0, runs[-1]
PY
script -qec "'$serflash' sensitivity a.ser --dir sens --per-amplitude 2 --sigmas 6:12:6" /dev/null >sens_tty.txt ||
  fail "sensitivity under a terminal"
grep -q $'\rfile 1 of 1: a.ser, ' sens_tty.txt || fail "no progress line for sensitivity"
echo "progress: all checks passed"
