#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the tool and the simulator twice (plain
# and with AddressSanitizer + UndefinedBehaviorSanitizer), runs the unit, simulator and
# whole-process tests on both, a bounded run of every fuzz target, the Debian packages for amd64,
# arm64 and armhf (configured without GoogleTest), the formatting check, the case transcripts and
# the write and recovery benchmarks on the real x86_64 kernel and the case transcripts again on
# the real arm64 and armhf kernels (tools/kernel). Ends with one line "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${NANDKEEP_JOBS:-2}
passed=0 failed=0
log() { printf '\n=== %s\n' "$*"; }
count_ctest() { # adds the counts of a ctest summary in file $1
  local line; line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  local f t; f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + t - f)); failed=$((failed + f))
}
stage() { # stage NAME COMMAND...: one pass or fail for a whole stage
  log "$1"; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $*"; fi
}

log "installing dependencies"
scripts/install-deps.sh || { echo "0 passed, 1 failed"; exit 1; }

for variant in plain asan; do
  dir=build-test-$variant
  opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ $variant = asan ] && opts+=(-DNANDKEEP_SANITIZE=ON)
  log "build ($variant)"
  if cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null && ninja -C "$dir" -j "$jobs"; then
    log "tests ($variant)"
    # The power-cut campaigns try every STRIDE-th operation (and both ends of every run of
    # erases or programs); the sanitizer build, several times slower, takes a wider stride.
    # The recovery campaign runs every STRIDE-th row of its table likewise.
    stride=${NANDKEEP_POWERCUT_STRIDE:-10} rstride=${NANDKEEP_RECOVERY_STRIDE:-11}
    [ $variant = asan ] && stride=${NANDKEEP_POWERCUT_STRIDE_ASAN:-60} rstride=37
    (cd "$dir" && NANDKEEP_POWERCUT_STRIDE=$stride NANDKEEP_RECOVERY_STRIDE=$rstride \
       ctest -j "$jobs" --output-on-failure --timeout 1500) 2>&1 | tee "$dir/ctest.log"
    count_ctest "$dir/ctest.log"
  else
    failed=$((failed + 1)); echo "FAILED: build $variant"
  fi
done

if [ -x fuzz/run.sh ]; then stage "fuzz targets (bounded)" fuzz/run.sh; fi
stage "packages (amd64, arm64, armhf), built as an integrator would" tools/package.sh
stage "clang-format" bash -c 'git ls-files "*.cpp" "*.h" | xargs clang-format --dry-run --Werror'
count_kernel() { # adds the counts of a real-kernel run's closing line in file $1
  local line f; line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$1" | tail -1)
  if [ -n "$line" ]; then
    passed=$((passed + ${line%% passed*})); f=${line#*, }; failed=$((failed + ${f%% failed}))
  else
    failed=$((failed + 1))
  fi
}
if [ -x tools/kernel/run.sh ] && [ "${NANDKEEP_SKIP_KERNEL:-0}" != 1 ]; then
  log "case transcripts and the write and recovery benchmarks on the real kernel"
  tools/kernel/run.sh --cases --bench write --bench recovery 2>&1 | tee build-test-plain/kernel.log
  count_kernel build-test-plain/kernel.log
  if [ "${NANDKEEP_SKIP_KERNEL_ARM64:-0}" != 1 ]; then
    log "case transcripts on the real arm64 kernel"
    tools/kernel/run.sh --arch arm64 --cases 2>&1 | tee build-test-plain/kernel-arm64.log
    count_kernel build-test-plain/kernel-arm64.log
  fi
  if [ "${NANDKEEP_SKIP_KERNEL_ARMHF:-0}" != 1 ]; then
    log "case transcripts on the real armhf kernel"
    tools/kernel/run.sh --arch armhf --cases 2>&1 | tee build-test-plain/kernel-armhf.log
    count_kernel build-test-plain/kernel-armhf.log
  fi
fi
if [ -x tests/arm64/run.sh ] && [ "${NANDKEEP_SKIP_ARM64:-0}" != 1 ]; then
  stage "arm64 build and tests under user emulation" tests/arm64/run.sh
fi

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
