#!/usr/bin/env bash
# Makes the README's two desktop screenshots under a virtual X server (xvfb-run):
# the panel and image window at 1366 x 768 with a 1280 x 960 file added, and the Candidates
# window on a demo results folder. Run from the repository after building (build/).
# Until the scan writes NAME_candidates.json itself, the demo folder's file is made here from
# the detections in its summary and the light curves read from the video.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=$root/build/src/cli/serflash
gui=$root/build/src/ui/qt/serflash-gui
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime   # no remembered window positions
mkdir -m 700 "$XDG_RUNTIME_DIR"
cd "$work"

"$cli" synth moon1280.ser --width 1280 --height 960 --frames 60 --flash 700,400,30,900 >/dev/null
xvfb-run -a -s "-screen 0 1366x768x24" "$gui" --screenshot "$root/docs/desktop_1366x768.png" "$work/moon1280.ser"

"$cli" synth night1.ser --width 640 --height 480 --frames 300 --flash 420,180,120,900,3 --flash 150,330,240,500 \
  >/dev/null
"$cli" scan night1.ser >/dev/null
folder=$(ls -d Results_night1_*)
python3 - "$folder" night1.ser <<'PY'
import json, os, re, struct, sys
folder, ser = sys.argv[1], sys.argv[2]
data = open(ser, "rb").read()
w, h, depth, frames = struct.unpack_from("<4i", data, 26)
def sample(k, x, y):
    return struct.unpack_from("<H", data, 178 + 2 * ((k * h + y) * w + x))[0]
hits = {}
for line in open(os.path.join(folder, "night1_summary.txt"), encoding="latin-1"):
    m = re.match(r"Threshold: (\d+)sigma", line)
    if m: threshold = int(m.group(1))
    f = line.split()
    if len(f) == 7 and all(v.isdigit() for v in f):
        frame, x, y, count, mean, sd = map(int, f[1:])
        hits.setdefault((x, y), {}).setdefault(frame, (count, mean, sd, set()))[3].add(threshold)
candidates = []
for n, ((x, y), by_frame) in enumerate(sorted(hits.items(), key=lambda i: min(i[1])), 1):
    peak = max(by_frame, key=lambda k: (by_frame[k][0] - by_frame[k][1]) / by_frame[k][2])
    count, mean, sd, _ = by_frame[peak]
    ts = sorted(set().union(*(v[3] for v in by_frame.values())), reverse=True)
    first = max(0, peak - 15); last = min(frames - 1, peak + 15)
    candidates.append({"candidate": n, "file": ser, "peak_frame": peak, "first_frame": min(by_frame),
        "last_frame": max(by_frame), "x": x, "y": y, "utc_peak": None, "utc_start": None, "time_source": "none",
        "duration_frames": max(by_frame) - min(by_frame) + 1, "peak_sigma": (count - mean) / sd,
        "peak_excess": count - mean, "integrated_excess": sum(by_frame[k][0] - by_frame[k][1] for k in by_frame),
        "highest_threshold": ts[0], "thresholds": ts, "detections": len(by_frame),
        "light_curve": {"first_frame": first, "excess": [sample(k, x, y) - mean for k in range(first, last + 1)],
                        "sigma": sd, "utc": [None] * (last - first + 1)}})
doc = {"format": "serflash-candidates", "version": 1,
       "file": {"name": ser, "path": os.path.abspath(ser)}, "candidates": candidates}
json.dump(doc, open(os.path.join(folder, "night1_candidates.json"), "w"), indent=2)
PY
xvfb-run -a -s "-screen 0 1366x768x24" "$gui" --screenshot "$root/docs/candidates_review.png" --review "$work/$folder"
echo "docs/desktop_1366x768.png and docs/candidates_review.png written"
