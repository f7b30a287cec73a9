#!/usr/bin/env bash
# Builds the fuzz targets with clang and gives each a bounded run (FUZZ_SECONDS, default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-fuzz
seconds=${FUZZ_SECONDS:-20}
CXX=clang++ cmake -S . -B "$dir" -G Ninja -DNANDKEEP_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$dir" -j "${NANDKEEP_JOBS:-2}"
# The targets run side by side (each fuzzes on one core), and report in name order.
pids=()
for target in "$dir"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  mkdir -p "$dir/corpus/$name"
  "$target" -max_total_time="$seconds" -rss_limit_mb=1024 -print_final_stats=0 -artifact_prefix="$dir/" \
    "$dir/corpus/$name" > "$dir/$name.log" 2>&1 &
  pids+=("$!:$name")
done
status=0
for job in "${pids[@]}"; do
  name=${job#*:}
  echo "--- $name: ${seconds}s"
  if ! wait "${job%%:*}"; then
    tail -40 "$dir/$name.log"
    echo "FAILED: $name"
    status=1
  else
    grep -E '^Done|#[0-9]+.*DONE' "$dir/$name.log" | tail -1 || true
  fi
done
exit $status
