#!/usr/bin/env bash
# serflash info on generated files: header lines in UTF-8, frame counts and warnings, failures.
set -euo pipefail
serflash=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

observer=$(printf 'Obs \x93\xfa\x96\x7b')  # two kanji in code page 932
"$serflash" synth "$work/a.ser" --width 64 --height 48 --frames 5 --depth 8 --seed 3 \
  --observer "$observer" --telescope "$(printf 'bad\x80byte')" --datetime 4294967301 --datetime-utc -1 \
  --cut-bytes 10 --header-frames 7 >/dev/null
"$serflash" info "$work/a.ser" >"$work/out.txt" || fail "info exit status $?"
cat >"$work/expected.txt" <<END
== $work/a.ser ($((178 + 5 * 64 * 48 - 10)) bytes)
FileID(14byte)：SERFLASH-SYNTH
LuID(int)：0
ColorID(int)：0
LittleEndian(int)：0
ImageWidth(int)：64
ImageHeight(int)：48
PixelDepthPerPlane(int)：8
FrameCount(int)：7
Observer(40byte)：Obs 日本
Instrument(40byte)：Synthetic camera
Telescope(40byte)：bad\x80byte
Datetime:4294967301
Datetime UTC:-1
frame size: 64 x 48 samples, 3072 bytes
frames in the file: 4
warning: the header declares 7 frames but the file holds only 4 whole frames and 3062 bytes of a cut-off frame (capture cut short?)
layout: mono
time source: none
note: no time stamps: the file does not hold all 7 frames
END
diff "$work/expected.txt" "$work/out.txt" || fail "info output differs"

"$serflash" synth "$work/b.ser" --width 32 --height 32 --frames 2 --extra-bytes 16 >/dev/null
"$serflash" info "$work/b.ser" >"$work/out.txt" || fail "info on b.ser"
grep -qx "frames in the file: 2" "$work/out.txt" || fail "frames of b.ser"
grep -qx "warning: 16 bytes follow the last frame (time stamps or other data); they are not read" "$work/out.txt" \
  || fail "trailing bytes of b.ser"

# Time stamps, colour layout and byte order.
"$serflash" synth "$work/t.ser" --width 32 --height 32 --frames 6 --times --drop 3 --times-local \
  --color-id 100 >/dev/null
"$serflash" info "$work/t.ser" >"$work/out.txt" || fail "info on t.ser"
grep -qx "layout: RGB, scanned as the mean of its three colours" "$work/out.txt" || fail "layout of t.ser"
grep -qx "frame size: 32 x 32 samples, 6144 bytes" "$work/out.txt" || fail "colour frame size"
grep -qx "time source: trailer-local" "$work/out.txt" || fail "local time stamps"
grep -qx "first frame time: 2026-12-08T21:30:00.000Z" "$work/out.txt" || fail "first time of t.ser"
grep -qx "last frame time: 2026-12-08T21:30:00.240Z" "$work/out.txt" || fail "last time of t.ser"
grep -qx "dropped frames: 1 (gaps after frame 2)" "$work/out.txt" || fail "dropped frame of t.ser"
# Time stamps are read: no warning about them, only about what follows them.
! grep -q "follow" "$work/out.txt" || fail "time stamps of t.ser taken for unread bytes"
"$serflash" synth "$work/x.ser" --width 32 --height 32 --frames 2 --times --extra-bytes 5 >/dev/null
grep -qx "warning: 5 bytes follow the time stamps; they are not read" <("$serflash" info "$work/x.ser") \
  || fail "bytes after the time stamps"
"$serflash" synth "$work/u.ser" --width 32 --height 32 --frames 3 --times --start 2025-01-02T03:04:05.5Z >/dev/null
grep -qx "first frame time: 2025-01-02T03:04:05.500Z" <("$serflash" info "$work/u.ser") || fail "--start"
# A time option alone asks for time stamps; without any the file has none.
"$serflash" synth "$work/v.ser" --width 32 --height 32 --frames 3 --fps 30 >/dev/null
grep -qx "time source: trailer" <("$serflash" info "$work/v.ser") || fail "--fps without --times"
"$serflash" synth "$work/w.ser" --width 32 --height 32 --frames 3 >/dev/null
grep -qx "time source: none" <("$serflash" info "$work/w.ser") || fail "time stamps without asking"
"$serflash" info "$work/b.ser" --fps 10 >"$work/out.txt" || fail "info --fps"
grep -qx "time source: header+fps" "$work/out.txt" || fail "estimate from --fps"
"$serflash" synth "$work/s.ser" --width 32 --height 32 --frames 2 --swap-bytes >/dev/null
"$serflash" info "$work/s.ser" >"$work/out.txt" || fail "info on s.ser"
grep -q "^warning: the samples look byte-swapped" "$work/out.txt" || fail "swapped samples not noticed"
"$serflash" info --swap-bytes "$work/s.ser" >"$work/out.txt" || fail "info --swap-bytes"
! grep -q "byte-swapped" "$work/out.txt" || fail "warning despite --swap-bytes"
grep -q "byte-swapped" <("$serflash" info "$work/b.ser") && fail "normal file called swapped"
mkfifo "$work/pipe.ser"
status=0
"$serflash" info "$work/pipe.ser" >/dev/null 2>"$work/err.txt" || status=$?
[ "$status" -ne 0 ] && grep -q "it is not a regular file" "$work/err.txt" || fail "FIFO not refused"

# A missing file among good ones: named with the reason, the others still described, status 1.
status=0
"$serflash" info "$work/missing.ser" "$work/b.ser" >"$work/out.txt" 2>"$work/err.txt" || status=$?
[ "$status" -ne 0 ] || fail "missing file gave status 0"
grep -q "cannot open $work/missing.ser: No such file or directory" "$work/err.txt" || fail "no reason given"
grep -q "== $work/b.ser" "$work/out.txt" || fail "later file not described"

# Too short to be a SER file, and a header with an impossible size.
printf 'just text' >"$work/short.ser"
status=0
"$serflash" info "$work/short.ser" >"$work/out.txt" || status=$?
[ "$status" -ne 0 ] || fail "short file gave status 0"
grep -q "shorter than the 178-byte SER header" "$work/out.txt" || fail "short file not reported"
grep -q "problem: image width is 0" "$work/out.txt" || fail "geometry problem not reported"
[ "$(grep -c . "$work/out.txt")" -ge 14 ] || fail "header lines missing"

# Bad synth options are refused without writing anything.
status=0
"$serflash" synth "$work/c.ser" --flash 1,2 2>"$work/err.txt" >/dev/null || status=$?
[ "$status" -ne 0 ] && [ ! -e "$work/c.ser" ] || fail "bad --flash accepted"
echo PASS
