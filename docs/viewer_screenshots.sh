# The viewers' screenshots for the README, at 1366 x 768 and at scale factor 2 on 1920 x 1080:
# the image window (histogram, play bar, frame time) with a synthetic night file, and the
# Candidates window on that file's results with the Moon's grid. Sourced by make_screenshots.sh,
# which sets root, cli, gui, the synth options (moon) and the scan's (placed) and the work folder.
"$cli" synth night.ser --width 960 --height 720 --frames 200 "${moon[@]}" --flash 760,600,80,900,3 >/dev/null
"$cli" scan night.ser "${placed[@]}" >/dev/null
folder=$(ls -d Results_night_*)

laptop=(xvfb-run -a -s "-screen 0 1366x768x24")
desktop=(xvfb-run -a -s "-screen 0 1920x1080x24")
"${laptop[@]}" "$gui" --screenshot "$root/docs/image_window_1366x768.png" "$work/night.ser"
QT_SCALE_FACTOR=2 "${desktop[@]}" "$gui" --screenshot "$root/docs/image_window_scale2.png" "$work/night.ser"
"${laptop[@]}" "$gui" --screenshot "$root/docs/candidates_1366x768.png" --grid --review "$work/$folder"
QT_SCALE_FACTOR=2 "${desktop[@]}" "$gui" --screenshot "$root/docs/candidates_scale2.png" --grid --review "$work/$folder"
echo "docs/image_window_1366x768.png, docs/image_window_scale2.png, docs/candidates_1366x768.png and" \
  "docs/candidates_scale2.png written"
