#!/usr/bin/env bash
# Calibrate, then scan: flashes of known magnitude made for a zero point come out at that
# magnitude (within 0.1), with a star video of the same set-up measured for the zero point.
set -euo pipefail
serflash=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$work"

"$serflash" synth star.ser --width 96 --height 96 --frames 60 --fps 25 --flash-size 1.2 --noise 8 --shot-noise 0.05 \
  --star-magnitude 3 --zero-point 16 --seed 11 >/dev/null
"$serflash" calibrate star.ser --magnitude 3 --out zp.json >calibrate.txt || fail "calibrate: $(cat calibrate.txt)"
grep -q '"format": "serflash-zero-point"' zp.json || fail "no zero-point file"

check_run() {  # zero-point argument, magnitude, seed
  local zp=$1 mag=$2 seed=$3
  rm -rf Results_flash*
  "$serflash" synth flash.ser --frames 120 --fps 25 --flash-size 1.2 --noise 8 --shot-noise 0.05 --seed "$seed" \
    --flash 200,200,30 --flash 100,300,90 --flash 450,330,60 --flash-magnitude "$mag" --zero-point 16 >/dev/null
  "$serflash" scan flash.ser --max 20 --zero-point "$zp" >/dev/null 2>&1
  local csv
  csv=$(ls Results_flash*/flash_candidates.csv)
  # Only the candidates at the flashes count: lower thresholds find noise and stars too.
  awk -F, -v mag="$mag" -v at="200,200 100,300 450,330" '
    NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; n = split(at, places, " "); next }
    { x = $(col["x"]); y = $(col["y"]); hit = 0
      for (k = 1; k <= n; k++) { split(places[k], p, ","); if ((x - p[1])^2 + (y - p[2])^2 <= 4) hit = k }
      if (!hit) next
      found[hit] = 1; m = $(col["peak_mag"]); e = $(col["peak_mag_err"]); j = $(col["energy_j"])
      if (m == "" || e == "" || j == "") { print "flash " hit " has no magnitude"; bad = 1; next }
      d = m - mag; if (d < 0) d = -d
      if (d > 0.1) { print "flash " hit ": " m " for " mag; bad = 1 }
      if (e <= 0 || e > 0.3 || j <= 0) { print "flash " hit ": error " e ", energy " j; bad = 1 } }
    END { for (k = 1; k <= n; k++) if (!found[k]) { print "flash " k " not found"; bad = 1 } exit bad }' "$csv" || fail "zero point $zp, magnitude $mag"
}
check_run zp.json 3 5
check_run zp.json 4 6
# A plain value: the spot width comes from the flash itself.
check_run 16 3 7

# With a site, the energy is reckoned at the distance from the site (the Moon stands near the
# zenith there, 6300 km nearer than the Earth's centre): the energies' ratio is the square of the
# distances' ratio.
"$serflash" synth timed.ser --frames 120 --fps 25 --start 2026-12-08T21:30:00Z --flash-size 1.2 --noise 8 \
  --shot-noise 0.05 --seed 5 --flash 200,200,30 --flash-magnitude 3 --zero-point 16 >/dev/null
energy_at() {  # output file, scan options...
  local out=$1; shift
  rm -rf Results_timed*
  "$serflash" scan timed.ser --max 20 --zero-point 16 "$@" >/dev/null 2>&1
  cp Results_timed*/timed_candidates.json "$out"
}
energy_at geo.json
energy_at topo.json --site -27,-147,0
"$serflash" moon --utc 2026-12-08T21:30:01.200Z --json >d_geo.json
"$serflash" moon --utc 2026-12-08T21:30:01.200Z --json --site -27,-147,0 >d_topo.json
python3 - geo.json topo.json d_geo.json d_topo.json <<'PY' ||
import json, sys
def energy(path):
    doc = json.load(open(path))
    return next(c["energy_j"] for c in doc["candidates"] if abs(c["x"] - 200) <= 1 and abs(c["y"] - 200) <= 1)
geo, topo = energy(sys.argv[1]), energy(sys.argv[2])
d_geo, d_topo = (json.load(open(p))["distance_km"] for p in sys.argv[3:5])
want = (d_topo / d_geo) ** 2
assert want < 0.98, want
assert abs(topo / geo / want - 1) < 1e-6, (geo, topo, want)
PY
  fail "energy not at the site's distance"

# Without --zero-point the columns are there and empty.
rm -rf Results_flash*
"$serflash" scan flash.ser --max 20 >/dev/null 2>&1
head -1 Results_flash*/flash_candidates.csv | grep -q 'peak_mag,peak_mag_err,energy_j' || fail "no brightness columns"
grep -q '"peak_mag": null' Results_flash*/flash_candidates.json || fail "peak_mag not null"

refused() {  # message part, command...
  local want=$1; shift
  local err status=0
  err=$("$@" 2>&1 >/dev/null) || status=$?
  [ "$status" -ne 0 ] || fail "accepted: $*"
  grep -q -- "$want" <<<"$err" || fail "message for $*: $err"
}
refused 'neither a number nor a readable' "$serflash" scan flash.ser --zero-point nothing.json
echo '{"format":"serflash-zero-point"}' >broken.json
refused 'missing or not a number' "$serflash" scan flash.ser --zero-point broken.json
refused 'is not one of V, R, I' "$serflash" calibrate star.ser --magnitude 3 --band Q
refused 'star video itself' "$serflash" calibrate star.ser --magnitude 3 --out star.ser
"$serflash" synth notimes.ser --width 64 --height 64 --frames 5 >/dev/null
refused 'give --exposure-ms' "$serflash" calibrate notimes.ser --magnitude 3
refused 'saturate' "$serflash" synth bright.ser --width 64 --height 64 --frames 5 --star-magnitude -5 --zero-point 16
refused 'need --zero-point' "$serflash" synth x.ser --star-magnitude 3
echo "brightness round trip ok"
