#!/usr/bin/env bash
# The main job: installs what is missing, builds the library, installs it into
# a local prefix, then builds the minimal host example against the installed
# package (find_package(Vornik)) and runs it.
#   VORNIK_BUILD_DIR   build directory (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${VORNIK_BUILD_DIR:-build}
prefix="$root/$build/install"
jobs=$(nproc)

step() { echo; echo "==== $*"; }

scripts/bootstrap.sh

step "build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"

step "install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
ls "$prefix/lib"*/libvornik.so* "$prefix/include/vornik"

step "minimal host against the installed library"
cmake -S examples/minimal_host -B "$build/minimal_host" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/minimal_host" -j"$jobs"
host="$build/minimal_host/vornik_minimal_host"

step "run: set-up, tracker start and stop, result and projection matrix"
"$host" "$root/data" targets.grp "$build/demo_appdata"

step "run: the same with the sample photo as camera source"
mkdir -p "$build/demo_appdata"
"$host" "$root/data" targets.grp "$build/demo_appdata" "$root/data/sample_target.jpg" 30

step "run: the flat C interface"
"$build/minimal_host/vornik_minimal_host_c" "$root/data" targets.grp "$build/demo_appdata"

echo
echo "demo done"
