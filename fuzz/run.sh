#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs each of them for a bounded time (NANDKEEP_FUZZ_SECONDS, default 20). Exits non-zero when
# a target finds a crash, a leak or a sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-fuzz
secs=${NANDKEEP_FUZZ_SECONDS:-20}
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNANDKEEP_FUZZ=ON -DNANDKEEP_TESTS=OFF >/dev/null
ninja -C "$dir" -j "${NANDKEEP_JOBS:-2}"
status=0
for target in "$dir"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus"
  echo "=== $name (${secs}s)"
  if ! "$target" -max_total_time="$secs" -rss_limit_mb=4096 -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$dir/$name-" "$corpus"; then
    status=1
  fi
done
exit $status
