#!/usr/bin/env bash
# serflash catalog: one run over a night and the same night scanned in two runs into separate
# folders give the same rows; versions 1 and 2 of the candidates document are read, other
# folders are named with the reason; the page links to each report; match reads catalogues.
set -euo pipefail
serflash=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$work"

small=(--width 64 --height 48 --frames 80 --stars 0 --hot-pixels 0 --no-bright-region --no-dark-region --times)
"$serflash" synth a.ser "${small[@]}" --flash 30,20,30 >/dev/null
"$serflash" synth b.ser "${small[@]}" --seed 2 --flash 40,25,50,500 --flash 20,30,10 >/dev/null
"$serflash" synth c.ser "${small[@]}" --seed 3 --flash 25,25,60 >/dev/null
mkdir one two_a two_b
"$serflash" scan a.ser b.ser c.ser --dir one --progress none >/dev/null 2>&1 || fail "scan of the night"
"$serflash" scan a.ser b.ser --dir two_a --progress none >/dev/null 2>&1 || fail "first run"
"$serflash" scan c.ser --dir two_b --progress none >/dev/null 2>&1 || fail "second run"

"$serflash" catalog one --out one.csv --out one.json --out one.html >out.txt 2>err.txt || fail "catalog: $(cat err.txt)"
grep -q '^catalog: [1-9][0-9]* candidates from 3 results folders, 0 passed over$' out.txt || fail "summary: $(cat out.txt)"
"$serflash" catalog two_a two_b --out two.csv --out two.json >/dev/null 2>&1 || fail "catalog of two runs"
cmp -s one.csv two.csv || { diff one.csv two.csv; fail "one run and two runs give other rows"; }
"$serflash" catalog two_b two_a >stdout.csv 2>/dev/null || fail "catalog to stdout"
cmp -s one.csv stdout.csv || fail "the order of the folders given changes the table"
python3 - one.json two.json one.csv <<'PY' || fail "JSON catalogue"
import csv, json, sys
one, two = (json.load(open(p)) for p in sys.argv[1:3])
assert one["format"] == "serflash-catalog" and one["rows"] == two["rows"]
assert [f["name"] for f in one["folders"]] and len(one["folders"]) == 3
header = next(csv.reader(open(sys.argv[3], newline="")))
assert header[:3] == ["file", "folder", "utc_first_frame"] and header[-1] == "report", header
for column in ("candidate", "peak_frame", "x", "y", "utc_peak", "peak_sigma"):
    assert column in header, column
assert header == one["columns"]
assert {r["file"] for r in one["rows"]} == {"a.ser", "b.ser", "c.ser"}
assert all(r["utc_first_frame"] for r in one["rows"])
PY

# The page links each file to its report, relative to where the page is.
python3 - one.html <<'PY' || fail "links of the page"
import os, re, sys
page = open(sys.argv[1]).read()
links = set(re.findall(r'href="([^"]+)"', page))
assert len(links) == 3, links
for link in links:
    assert os.path.isfile(link), link
PY
mkdir pages && "$serflash" catalog one --out pages/night.html >/dev/null 2>&1 || fail "page in a subfolder"
grep -q 'href="../one/Results_a_' pages/night.html || fail "link from a subfolder"

# Versions 1 and 2 are read; other folders are passed over with the reason.
mkdir mixed
cp -r one/Results_a_* mixed/
v2=$(ls -d one/Results_b_*) && cp -r "$v2" mixed/
python3 - mixed/Results_b_*/b_candidates.json <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
doc["version"] = 2
for c in doc["candidates"]:
    c["class"] = "flash"
    c["noise_expected"] = 0.01
json.dump(doc, open(sys.argv[1], "w"))
PY
cp -r one/Results_c_* mixed/Results_c_v7 && sed -i '0,/"version": [0-9]*/s//"version": 7/' mixed/Results_c_v7/c_candidates.json
cp -r one/Results_c_* mixed/Results_c_bad && echo '{"format": "serflash-candidates", "version": 1, ' >mixed/Results_c_bad/c_candidates.json
mkdir mixed/Results_d mixed/notes && echo "not a results folder" >mixed/notes/readme.txt
"$serflash" catalog mixed --out mixed.csv >out.txt 2>err.txt || fail "catalog of mixed folders"
grep -q '^catalog: .* from 2 results folders, 3 passed over$' out.txt || fail "mixed summary: $(cat out.txt)"
grep -q 'passed over mixed/Results_c_v7/c_candidates.json: unknown version 7$' err.txt || fail "version: $(cat err.txt)"
grep -q 'passed over mixed/Results_c_bad/c_candidates.json: not readable JSON' err.txt || fail "bad JSON: $(cat err.txt)"
grep -q 'passed over mixed/Results_d: no candidates file$' err.txt || fail "empty folder: $(cat err.txt)"
! grep -q notes err.txt || fail "a folder that is no results folder was named"
[ "$(grep -c '^b.ser,' mixed.csv)" = "$(grep -c '^b.ser,' one.csv)" ] || fail "version 2 rows"
"$serflash" catalog missing_folder >/dev/null 2>err.txt; grep -q 'passed over missing_folder: no such folder' err.txt ||
  fail "missing folder"
! "$serflash" catalog one --out one/Results_a_x.txt >/dev/null 2>&1 || fail "a bad --out name was taken"
! "$serflash" catalog one --out "$(ls -d one/Results_a_*)/night.csv" >/dev/null 2>&1 ||
  fail "a catalogue was written into a results folder"

# match reads catalogues, as CSV and as JSON, and finds every timed candidate of a night in the same night.
n=$(python3 -c 'import json,sys; print(sum(1 for r in json.load(open(sys.argv[1]))["rows"] if r["utc_peak"]))' one.json)
for pair in "one.csv two.csv" "one.json two.json" "one.csv two.json"; do
  # shellcheck disable=SC2086
  "$serflash" match $pair --out "pairs_${pair// /_}.csv" >match.txt 2>&1 || fail "match of $pair: $(cat match.txt)"
  grep -q "^Pairs .*: $n$" match.txt || fail "pairs of $pair: $(head -3 match.txt)"
done
# The same pairs, with the same differences, whichever form the catalogues take.
cmp -s pairs_one.csv_two.csv.csv pairs_one.json_two.json.csv || fail "JSON catalogues pair otherwise than CSV ones"
cmp -s pairs_one.csv_two.csv.csv pairs_one.csv_two.json.csv || fail "a CSV and a JSON catalogue pair otherwise"
echo "catalog: all checks passed"
