#!/usr/bin/env bash
# Makes the README's desktop screenshots under a virtual X server (xvfb-run): the panel and
# image window at 1366 x 768 with a 1280 x 960 file added, the panel after a scan at 1366 x 768
# and at scale factor 2 on 1920 x 1080, and the Candidates window on a demo results folder.
# The videos show the night side of the Moon as the ephemeris has it at their time, with the
# limb in the frame. Run from the repository after building (build/).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=$root/build/src/cli/serflash
gui=$root/build/src/ui/qt/serflash-gui
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime   # no remembered window positions
mkdir -m 700 "$XDG_RUNTIME_DIR"
cd "$work"
moon=(--moon --start 2026-12-08T21:14:00.000Z --fps 30 --site 48.2,16.4,200)
placed=(--site 48.2,16.4,200 --rotation 0 --zero-point 20) # where and how it was seen, for the scan

"$cli" synth moon1280.ser --width 1280 --height 960 --frames 60 "${moon[@]}" --flash 1000,700,30,900 >/dev/null
xvfb-run -a -s "-screen 0 1366x768x24" "$gui" --screenshot "$root/docs/desktop_1366x768.png" "$work/moon1280.ser"

# The panel after a scan of two files, its closing box up.
"$cli" synth night2.ser --width 640 --height 480 --frames 300 "${moon[@]}" --flash 500,400,150,900 >/dev/null
"$cli" synth night3.ser --width 640 --height 480 --frames 300 "${moon[@]}" --flash 450,350,60,700 >/dev/null
xvfb-run -a -s "-screen 0 1366x768x24" "$gui" --scan --screenshot "$root/docs/panel_scan_1366x768.png" \
  "$work/night2.ser" "$work/night3.ser"
rm -rf "$work"/Results_night* "$XDG_CONFIG_HOME"
QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 1920x1080x24" "$gui" --scan --screenshot \
  "$root/docs/panel_scan_scale2.png" "$work/night2.ser" "$work/night3.ser"
rm -rf "$work"/Results_night*

"$cli" synth night1.ser --width 640 --height 480 --frames 300 "${moon[@]}" \
  --flash 500,400,120,900,3 --flash 420,300,240,700 >/dev/null
"$cli" scan night1.ser "${placed[@]}" >/dev/null
folder=$(ls -d Results_night1_*)
xvfb-run -a -s "-screen 0 1366x768x24" "$gui" --screenshot "$root/docs/candidates_review.png" --grid \
  --review "$work/$folder"
echo "docs/desktop_1366x768.png, docs/panel_scan_1366x768.png, docs/panel_scan_scale2.png and docs/candidates_review.png written"

# The viewers at 1366 x 768 and at scale factor 2 (their own part, in the same work folder).
source "$root/docs/viewer_screenshots.sh"
