#!/usr/bin/env bash
# The test command: installs what is missing, builds and runs every test,
# then the AddressSanitizer+UBSan build, the ThreadSanitizer build of the
# threaded tests and the fuzz targets for a bounded time.
#   scripts/test.sh            everything
#   scripts/test.sh --quick    only the plain build and its tests
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
quick=0
[ "${1:-}" = "--quick" ] && quick=1
jobs=$(nproc)
fuzz_seconds=${VORNIK_FUZZ_SECONDS:-30}

scripts/bootstrap.sh

step() { echo; echo "==== $*"; }

step "plain build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

if [ $quick -eq 1 ]; then exit 0; fi

step "main job (scripts/demo.sh) in a scratch build folder"
# Its own configure and build, install and host included, so that a step the
# test build happens to have done already cannot hide a missing one.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
bash scripts/demo.sh --no-bootstrap --build-dir "$scratch/build" > "$scratch/demo.log" 2>&1 || {
  tail -n 60 "$scratch/demo.log"; echo "test.sh: the main job failed" >&2; exit 1; }
grep -E "^# (states|ground truth)" "$scratch/demo.log"
tail -n 1 "$scratch/demo.log" | grep -qx "demo done" || {
  tail -n 20 "$scratch/demo.log"; echo "test.sh: the main job did not finish" >&2; exit 1; }
rm -rf "$scratch"

step "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVORNIK_SANITIZE=address \
  -DVORNIK_BUILD_BENCH=OFF -DVORNIK_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs" -LE slow)

step "ThreadSanitizer (threaded tests)"
# Only the test programs of the threaded subsystems are built here.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DVORNIK_SANITIZE=thread \
  -DVORNIK_BUILD_BENCH=OFF -DVORNIK_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target manager_tests camera_tests tracking_tests
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --output-on-failure -j"$jobs" -L "manager|camera|tracking")

if [ -n "$(ls src/*/*_fuzz.cc 2>/dev/null)" ]; then
  step "fuzz targets (${fuzz_seconds}s each)"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNIK_FUZZ=ON \
    -DVORNIK_BUILD_TESTS=ON -DVORNIK_BUILD_BENCH=OFF -DVORNIK_BUILD_EXAMPLES=OFF \
    -DVORNIK_BUILD_TOOLS=OFF -DVORNIK_BUILD_CAPTURE_PLUGIN=OFF >/dev/null
  cmake --build build-fuzz -j"$jobs" --target vornik_fuzzers
  "$root/scripts/run_fuzzers.sh" build-fuzz "$fuzz_seconds"
fi

echo
echo "all test stages passed"
