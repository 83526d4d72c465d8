#!/usr/bin/env bash
# The main job: installs what is missing, builds, makes a database from the
# bundled sample target, renders a camera sequence of it with exact ground
# truth, runs the library on every frame with vornik-play, prints the summary
# and names the overlay images to look at. Then installs the library and runs
# the minimal host example against the installed package.
#
#   bash scripts/demo.sh [--short] [--no-bootstrap] [--no-build]
#                        [--build-dir DIR] [--work DIR]
#
#   --short         a few frames and no host example (the test suite's variant)
#   --no-bootstrap  do not install Debian packages
#   --no-build      use the programs already built in the build directory
#   --build-dir     build directory (default: $VORNIK_BUILD_DIR or build)
#   --work          where the database, frames and overlays go (default: <build>/demo)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${VORNIK_BUILD_DIR:-build}
work=""
short=0
bootstrap=1
compile=1
while [ $# -gt 0 ]; do
  case "$1" in
    --short) short=1 ;;
    --no-bootstrap) bootstrap=0 ;;
    --no-build) compile=0 ;;
    --build-dir) build=$2; shift ;;
    --work) work=$2; shift ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
case "$build" in /*) ;; *) build="$root/$build" ;; esac
work=${work:-$build/demo}
case "$work" in /*) ;; *) work="$root/$work" ;; esac
jobs=$(nproc)

step() { echo; echo "==== $*"; }

if [ "$bootstrap" = 1 ]; then
  scripts/bootstrap.sh
fi

if [ "$compile" = 1 ]; then
  step "build"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  # Everything the install step below puts into the package, the capture
  # plug-in included.
  cmake --build "$build" -j"$jobs" --target vornik vornik_capture vornik-mkdb vornik-synth vornik-play
fi
mkdb="$build/tools/vornik-mkdb/vornik-mkdb"
synth="$build/tools/vornik-synth/vornik-synth"
play="$build/tools/vornik-play/vornik-play"
for program in "$mkdb" "$synth" "$play"; do
  if [ ! -x "$program" ]; then
    echo "demo.sh: $program is missing; build first (or drop --no-build)" >&2
    exit 1
  fi
done

if [ "$short" = 1 ]; then
  frames=12
  views=8
else
  frames=120
  views=640  # the tool's default
fi
rm -rf "$work"
mkdir -p "$work"

step "database: data/sample_target.jpg -> $work/sample.grp"
"$mkdb" -q -o "$work/sample.grp" --views "$views" \
  --name sample_target="Sample target" "$root/data/sample_target.jpg"
"$mkdb" --list "$work/sample.grp"

step "camera sequence: $frames frames of a hand-held orbit with ground truth"
"$synth" --target "$root/data/sample_target.jpg" --out "$work/frames" \
  --sequence orbit --frames "$frames" --clutter --noise 2 >/dev/null
echo "frames in $work/frames, ground truth in $work/frames/ground_truth.csv"

step "vornik-play: every frame through recognition and tracking"
"$play" --group "$work/sample.grp" --truth "$work/frames/ground_truth.csv" \
  --overlay "$work/overlay" --out "$work/frames.csv" "$work/frames" | tee "$work/summary.txt"
if ! grep -Eq "tracked [1-9]" "$work/summary.txt"; then
  echo "demo.sh: no frame was tracked" >&2
  exit 1
fi
echo "one line per frame in $work/frames.csv; the first lines:"
head -n 4 "$work/frames.csv" | cut -c1-120

step "look at these overlay images (green: tracked outline and axes, orange: ground truth)"
count=$(ls "$work/overlay" | wc -l)
middle=$(printf "%s/overlay/overlay_%05d.jpg" "$work" $((frames / 2)))
echo "$work/overlay/overlay_00000.jpg   (first frame: recognised, no pose yet)"
echo "$work/overlay/overlay_00002.jpg   (tracked)"
echo "$middle"
echo "($count images in $work/overlay)"

if [ "$short" = 0 ]; then
  prefix="$build/install"
  step "install into $prefix"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  ls "$prefix/lib"*/libvornik.so* "$prefix/include/vornik"

  step "minimal host against the installed library"
  cmake -S examples/minimal_host -B "$build/minimal_host" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build/minimal_host" -j"$jobs"
  host="$build/minimal_host/vornik_minimal_host"
  mkdir -p "$work/appdata"
  step "run: the sample database with the rendered frames as camera source"
  "$host" "$work" sample.grp "$work/appdata" "$work/frames/frame_%05d.jpg" 30

  step "run: the flat C interface"
  "$build/minimal_host/vornik_minimal_host_c" "$work" sample.grp "$work/appdata"
fi

echo
echo "demo done"
