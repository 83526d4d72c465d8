#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a fixed time each, starting
# from the seed corpora that the build's *_fuzz_seeds programs write. Any
# crash, sanitizer report, leak or timeout fails the script.
#   scripts/run_fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
fuzz_dir="$build/fuzz"
shopt -s nullglob
fuzzers=("$fuzz_dir"/*_fuzz)
if [ ${#fuzzers[@]} -eq 0 ]; then
  echo "no fuzz targets in $fuzz_dir (build the vornik_fuzzers target first)" >&2
  exit 1
fi

corpus_root="$fuzz_dir/corpus"
mkdir -p "$corpus_root"
for generator in "$fuzz_dir"/*_fuzz_seeds; do
  "$generator" "$corpus_root"
done

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
status=0
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer")
  corpus="$corpus_root/$name"
  artifacts="$fuzz_dir/artifacts/$name"
  log="$fuzz_dir/$name.log"
  mkdir -p "$corpus" "$artifacts"
  echo "== $name for ${seconds}s"
  if "$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 -close_fd_mask=1 \
      -artifact_prefix="$artifacts/" -print_final_stats=1 "$corpus" >"$log" 2>&1; then
    grep -E "^stat::number_of_executed_units" "$log" || true
  else
    echo "FAILED: $name (log: $log, inputs: $artifacts)"
    tail -n 40 "$log"
    status=1
  fi
done
exit $status
