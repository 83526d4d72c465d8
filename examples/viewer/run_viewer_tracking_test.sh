#!/bin/sh
# End to end through the viewer: builds a database of the sample photo,
# renders an orbit around it, plays that as the camera on a virtual X display
# and checks that the target was tracked and a screenshot saved. Exit 77
# (skipped) when xvfb-run is not installed.
#   run_viewer_tracking_test.sh VIEWER MKDB SYNTH DATA_DIR WORK_DIR
set -u
viewer=$1
mkdb=$2
synth=$3
data=$4
work=$5
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run not installed: viewer test skipped"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work/frames" "$work/cache" || exit 1
"$mkdb" -q --no-training -o "$work/viewer.grp" "$data/sample_target.jpg=poster" || exit 1
"$synth" --target "$data/sample_target.jpg" --background "$data/photos/brick.jpg" \
  --out "$work/frames" --sequence orbit --frames 120 >/dev/null || exit 1
xvfb-run -a -s "-screen 0 800x600x24" timeout 60 "$viewer" "$work/frames/frame_%05d.jpg" \
  --assets "$work" --group viewer.grp --appdata "$work/cache" \
  --screenshot "$work/tracked.png" --after 3 --require-frames --require-pose || exit 1
if [ ! -s "$work/tracked.png" ]; then
  echo "no screenshot written to $work/tracked.png"
  exit 1
fi
echo "screenshot: $work/tracked.png"
