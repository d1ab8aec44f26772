#!/usr/bin/env bash
# serflash moon: the JSON keys, the site's effect, and bad options refused with a message.
set -euo pipefail
serflash=$1
fail() { echo "FAIL: $*"; exit 1; }

json=$("$serflash" moon --utc 2026-12-08T21:30:00.000Z --json) || fail "moon --json exit status $?"
keys=$(printf '%s\n' "$json" | sed -n 's/^  "\([a-z_]*\)":.*/\1/p' | paste -sd, -)
[ "$keys" = "ra_deg,dec_deg,distance_km,semidiameter_arcsec,libration_lon_deg,libration_lat_deg,axis_pa_deg,bright_limb_pa_deg,illuminated_fraction,sun_colongitude_deg" ] ||
  fail "keys: $keys"

geo=$("$serflash" moon --utc 2026-12-08T21:30:00Z)
topo=$("$serflash" moon --utc 2026-12-08T21:30:00Z --site 48,11,500)
grep -q '^seen from: the Earth.s centre (geocentric)$' <<<"$geo" || fail "geocentric line: $geo"
grep -q '(topocentric)$' <<<"$topo" || fail "topocentric line: $topo"
[ "$(grep '^distance' <<<"$geo")" != "$(grep '^distance' <<<"$topo")" ] || fail "the site changed nothing"

refused() {  # expected message part, arguments...
  local want=$1; shift
  local err status=0
  err=$("$serflash" moon "$@" 2>&1 >/dev/null) || status=$?
  [ "$status" -ne 0 ] || fail "accepted: $*"
  grep -q -- "$want" <<<"$err" || fail "message for $*: $err"
}
refused 'is not a UTC time' --utc 2026-12-32T00:00:00Z
refused 'is not a UTC time' --utc yesterday
refused 'outside 1900-01-01 to 2099-12-31' --utc 1850-01-01T00:00:00Z
refused 'latitude must lie' --utc 2026-12-08T21:30:00Z --site 91,0,0
refused 'not LAT,LON,HEIGHT_M' --utc 2026-12-08T21:30:00Z --site 48,11
refused 'utc is required' --site 48,11,0
echo "moon command ok"
