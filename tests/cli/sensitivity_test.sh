#!/usr/bin/env bash
# serflash sensitivity scans the file as serflash scan does, leaves the SER file and the scan's
# own results as they were, adds its two files and the report section, and ends each file's
# output with the sensitivity line.
set -euo pipefail
serflash=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$work"

"$serflash" synth m1.ser --width 96 --height 80 --frames 120 --stars 0 --hot-pixels 0 --no-bright-region \
  --no-dark-region --times >/dev/null
"$serflash" synth m2.ser --width 96 --height 80 --frames 120 --stars 0 --hot-pixels 0 --no-bright-region \
  --no-dark-region --seed 4 >/dev/null
before=$(md5sum m1.ser m2.ser)
mkdir plain measured
"$serflash" scan m1.ser m2.ser --max 30 --dir plain >/dev/null 2>&1 || fail "scan exit status"
"$serflash" sensitivity m1.ser m2.ser --max 30 --dir measured --per-amplitude 3 --sigmas 4:12:4 >out.txt 2>err.txt ||
  { cat out.txt err.txt; fail "sensitivity exit status"; }
[ "$before" = "$(md5sum m1.ser m2.ser)" ] || fail "a SER file changed"
[ "$(ls measured)" = "$(ls plain)" ] || fail "folders beside the plain scan's: $(ls measured)"
[ "$(ls -A)" = "$(printf 'err.txt\nm1.ser\nm2.ser\nmeasured\nout.txt\nplain')" ] || fail "files left in the folder: $(ls -A)"

form='^sensitivity: 50% ([0-9]+\.[0-9] counts [0-9]+\.[0-9] sigma|- counts - sigma), 90% ([0-9]+\.[0-9] counts [0-9]+\.[0-9] sigma|- counts - sigma), false candidates [0-9]+ \(([0-9]+\.[0-9]|-) per hour\)$'
[ "$(grep -cE "$form" out.txt)" -eq 2 ] || { cat out.txt; fail "two sensitivity lines"; }
tail -n 1 out.txt | grep -qE "$form" || fail "last line"
# m2 has no time stamps: no rate.
grep -E "$form" out.txt | tail -n 1 | grep -q "(- per hour)$" || fail "rate without times"
grep -E "$form" out.txt | head -n 1 | grep -qv "(- per hour)$" || fail "rate with times"

for name in m1 m2; do
  p=$(ls -d plain/Results_${name}_s*)
  m=measured/$(basename "$p")
  [ -d "$m" ] || fail "$m missing"
  for f in "$p"/*; do
    b=$(basename "$f")
    if [ "$b" = "${name}_report.html" ]; then
      grep -q '<h2 id="sensitivity">Sensitivity</h2>' "$m/$b" || fail "no section in $m/$b"
      python3 - "$f" "$m/$b" <<'PY' || fail "report page changed beyond its section"
import sys
a, b = (open(p, encoding="utf-8").read() for p in sys.argv[1:3])
i, j = b.index('<h2 id="sensitivity">'), b.index('<h2>Candidates')
sys.exit(0 if a == b[:i] + b[j:] else 1)
PY
    else
      cmp -s "$f" "$m/$b" || fail "$m/$b differs from the plain scan's"
    fi
  done
  [ "$(ls "$m" | wc -l)" -eq $(( $(ls "$p" | wc -l) + 2 )) ] || fail "not two files more in $m"
  python3 -c "import json,sys; d=json.load(open(sys.argv[1])); assert len(d['completeness']) == 3" \
    "$m/${name}_sensitivity.json" || fail "json"
  head -n 1 "$m/${name}_sensitivity.csv" | grep -q "^amplitude_sigma,amplitude_counts,injected,recovered,completeness" ||
    fail "csv header"
done

set +e
"$serflash" sensitivity m1.ser --sigmas 5:3:1 --dir measured >/dev/null 2>err.txt; rc=$?
set -e
[ $rc -eq 2 ] || fail "bad ladder exit status $rc"
grep -q "last amplitude" err.txt || fail "bad ladder message"

# A value given to a switch is a usage error, not a crash.
set +e
"$serflash" sensitivity m1.ser --two-frames=--threads --dir measured >/dev/null 2>err.txt; rc=$?
set -e
[ $rc -ne 0 ] && [ $rc -lt 128 ] || fail "valued switch exit status $rc"
grep -q "two-frames" err.txt || fail "valued switch message"
echo OK
