#!/usr/bin/env bash
# A made-up video of the Moon with a flash at a selenographic place, scanned: the table and the
# document give the flash's place, the page its picture; a file without times has no Moon.
set -euo pipefail
serflash=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }

"$serflash" synth m.ser --moon --times --start 2026-03-02T01:43:43Z --width 240 --height 180 --frames 30 \
  --rotation 164 --site 50.9,-160.2,1252 --stars 2 --hot-pixels 0 --flash-at -30,30,12,900 > out.txt ||
  fail "synth --moon"
grep -q "^moon: centre" out.txt || fail "no moon line"
"$serflash" synth bad.ser --moon --flash-at 0,180,3 > /dev/null 2>&1 && fail "far-side flash accepted"
"$serflash" scan m.ser --site 50.9,-160.2,1252 --rotation 164 > scan.txt 2>&1 || fail "scan"
dir=$(ls -d Results_m_s*)
python3 - "$dir/m_candidates.csv" "$dir/m_candidates.json" <<'PY' || fail "place of the flash"
import csv, json, math, sys
rows = list(csv.DictReader(open(sys.argv[1])))
assert len(rows) == 1, rows
lat, lon = float(rows[0]["lat"]), float(rows[0]["lon"])
assert abs(lat + 30) < 1 and abs(lon - 30) < 1.5, (lat, lon)
assert float(rows[0]["lat_lon_err"]) > 0
d = json.load(open(sys.argv[2]))
m = d["moon"]
assert m["disk"]["radius"] > 0 and m["orientation_source"] == "given" and m["ephemeris"]["topocentric"]
assert d["candidates"][0]["position_note"] is None
PY
grep -q 'alt="the Moon"' "$dir/m_report.html" || fail "no picture of the Moon"
# The document's ephemeris is the command's, with what the disk also used after it.
utc=$(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['moon']['utc'])" "$dir/m_candidates.json")
"$serflash" moon --utc "$utc" --site 50.9,-160.2,1252 --json > ephemeris.json
python3 - ephemeris.json "$dir/m_candidates.json" <<'PY' || fail "the document's ephemeris differs from the command's"
import json, sys
alone = json.load(open(sys.argv[1]))
block = json.load(open(sys.argv[2]))["moon"]["ephemeris"]
assert list(block)[:10] == list(alone) and list(block)[10:] == ["sun_selenographic_lat_deg", "topocentric"], list(block)
assert all(block[k] == alone[k] for k in alone), (block, alone)
PY

"$serflash" synth plain.ser --width 64 --height 48 --frames 10 > /dev/null
"$serflash" scan plain.ser > /dev/null 2>&1 || fail "plain scan"
python3 -c "import json,sys; assert json.load(open(sys.argv[1]))['moon'] is None" Results_plain_s*/plain_candidates.json ||
  fail "a file without times got a Moon"
"$serflash" scan plain.ser --site 91,0,0 > /dev/null 2>&1 && fail "bad site accepted"
echo ok
