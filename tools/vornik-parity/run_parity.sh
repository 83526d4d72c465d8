#!/usr/bin/env bash
# The Windows library against the Linux one on the same database and frames:
#   run_parity.sh LINUX_BUILD EMULATOR WINDOWS_PARITY_EXE DATA_DIR WORK_DIR
# The Linux vornik-mkdb builds the database and vornik-synth renders the
# frames; the Linux vornik-parity writes the reference lines and the Windows
# one, run by the emulator, compares its own with them.
set -euo pipefail
linux=$1 emulator=$2 windows=$3 data=$4 work=$5
rm -rf "$work"
mkdir -p "$work/linux" "$work/windows"
"$linux/tools/vornik-mkdb/vornik-mkdb" -q -o "$work/sample.grp" --views 8 \
  --name sample_target="Sample target" "$data/sample_target.jpg"
synth=$linux/tools/vornik-synth/vornik-synth
# A video (tracking from frame to frame), single views at random poses with
# a photo behind (recognition and initial pose each time, some too steep to
# succeed) and views of another picture (nothing to recognise).
"$synth" --target "$data/sample_target.jpg" --out "$work/orbit" --sequence orbit --frames 30 \
  --clutter --noise 2 >/dev/null
"$synth" --target "$data/sample_target.jpg" --out "$work/views" --random 16 --tilt-range 0,70 \
  --background "$data/photos/brick.jpg" --noise 2 --seed 7 >/dev/null
"$synth" --target "$data/photos/coffee.jpg" --out "$work/other" --random 6 --clutter >/dev/null
frames=("$work"/orbit/frame_*.jpg "$work"/views/frame_*.jpg "$work"/other/frame_*.jpg)
common=(--assets "$work" --group sample.grp)
"$linux/tools/vornik-parity/vornik-parity" "${common[@]}" --appdata "$work/linux" \
  --work "$work/linux" --out "$work/linux.csv" "${frames[@]}"
"$emulator" "$windows" "${common[@]}" --appdata "$work/windows" --work "$work/windows" \
  --out "$work/windows.csv" --reference "$work/linux.csv" "${frames[@]}"
