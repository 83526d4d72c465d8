#!/bin/sh
# Runs the viewer on a virtual X display for a few seconds and checks that it
# saved a screenshot. Exit 77 (skipped) when xvfb-run is not installed.
#   run_viewer_test.sh VIEWER SOURCE OUTPUT.png
set -u
viewer=$1
source=$2
output=$3
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run not installed: viewer test skipped"
  exit 77
fi
rm -f "$output"
xvfb-run -a -s "-screen 0 800x600x24" timeout 60 "$viewer" "$source" \
  --screenshot "$output" --after 2 --require-frames || exit 1
if [ ! -s "$output" ]; then
  echo "no screenshot written to $output"
  exit 1
fi
echo "screenshot: $output"
