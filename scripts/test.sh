#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the tool and the simulator twice (plain
# and with AddressSanitizer + UndefinedBehaviorSanitizer), runs the unit, simulator and
# whole-process tests on both, a bounded run of every fuzz target, the Debian packages for amd64,
# arm64 and armhf (configured without GoogleTest) and their checks (tests/package), the formatting
# check, the case transcripts and the write and recovery benchmarks on the real x86_64 kernel and
# the case transcripts again on the real arm64 and armhf kernels, side by side (tools/kernel),
# and a short differential campaign against the latest release tag (tests/diff). Ends with one
# line "N passed, M failed, K skipped (WHAT: WHY; ...)": every stage or test that did not run is
# counted and named there.
#
# Switches: NANDKEEP_SKIP_KERNEL=1 (every real-kernel stage), NANDKEEP_SKIP_KERNEL_ARM64=1,
# NANDKEEP_SKIP_KERNEL_ARMHF=1, NANDKEEP_SKIP_DIFF=1; NANDKEEP_DIFF_STATES and NANDKEEP_DIFF_SEED
# (24 states of seed 20261206 by default).
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${NANDKEEP_JOBS:-2}
logs=build-test-plain
mkdir -p "$logs"
passed=0 failed=0 skipped=0 skips=()
log() { printf '\n=== %s [%ss]\n' "$*" "$SECONDS"; } # with the seconds since the start
skip() { # skip WHAT WHY [COUNT]: COUNT (default 1) stages or tests that did not run
  skipped=$((skipped + ${3:-1})); skips+=("$1: $2"); log "$1: SKIPPED ($2)"
}
listed() { paste -sd, | sed 's/,/, /g'; } # lines as one comma-separated list
ctest_skips() { # ctest_skips LOG WHERE: the tests a ctest run in file LOG skipped, counted in n
  local names
  names=$(sed -nE 's/^[[:space:]]+[0-9]+ - (.*) \((Skipped|Disabled)\)$/\1/p' "$1" | sed 's/ *# .*//')
  n=0; [ -z "$names" ] || n=$(wc -l <<<"$names")
  [ "$n" -eq 0 ] || skip "$2" "$(listed <<<"$names") (skipped by the test)" "$n"
}
count_ctest() { # count_ctest LOG WHERE: adds the counts of a ctest summary in file LOG
  local line; line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -1)
  if [ -z "$line" ]; then
    failed=$((failed + 1)); echo "FAILED: $2 ran no tests"; return
  fi
  local f t; f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  ctest_skips "$1" "$2"
  passed=$((passed + t - f - n)); failed=$((failed + f))
}
stage() { # stage NAME COMMAND...: one pass or fail for a whole stage
  log "$1"; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $*"; fi
}
finish() {
  local line="$passed passed, $failed failed, $skipped skipped"
  [ "$skipped" -eq 0 ] || line+=" ($(printf '%s; ' "${skips[@]}" | sed 's/; $//'))"
  echo; echo "$line"
  [ "$failed" -eq 0 ]; exit $?
}

log "installing dependencies"
scripts/install-deps.sh || { failed=1; finish; }

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
    count_ctest "$dir/ctest.log" "ctest ($variant)"
  else
    failed=$((failed + 1)); echo "FAILED: build $variant"
  fi
done

if [ ! -x fuzz/run.sh ]; then
  skip "fuzz targets" "fuzz/run.sh missing"
else
  log "fuzz targets (bounded)"
  if ! fuzz/run.sh 2>&1 | tee "$logs/fuzz.log"; then
    failed=$((failed + 1)); echo "FAILED: fuzz/run.sh"
  elif ! grep -q '^--- fuzz_' "$logs/fuzz.log"; then
    skip "fuzz targets" "none built"
  else
    passed=$((passed + 1))
  fi
fi
stage "packages (amd64, arm64, armhf), built as an integrator would, and their contents" \
  bash -c 'tools/package.sh && tests/package/check.sh'
stage "clang-format" bash -c 'git ls-files "*.cpp" "*.h" | xargs clang-format --dry-run --Werror'
kernel() { # kernel WHAT LOG RUN-ARGS...: a real-kernel run and its closing line
  local what=$1 out=$2; shift 2
  log "$what"
  tools/kernel/run.sh "$@" 2>&1 | tee "$out"
  kernel_count "$what" "$out"
}
kernel_shown() { # kernel_shown WHAT LOG: a real-kernel run that has ended, its output and counts
  log "$1"
  cat "$2"
  kernel_count "$1" "$2"
}
kernel_count() { # kernel_count WHAT LOG: adds the counts of a real-kernel run's closing line
  local what=$1 out=$2 line f
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$out" | tail -1)
  if [ -n "$line" ]; then
    passed=$((passed + ${line%% passed*})); f=${line#*, }; failed=$((failed + ${f%% failed}))
  else
    failed=$((failed + 1)); echo "FAILED: $what: no closing line"
  fi
  f=$(sed -n 's/^SKIP //p' "$out")
  [ -z "$f" ] || skip "$what" "$(listed <<<"$f") (simulator-only files)" "$(wc -l <<<"$f")"
}
k86="case transcripts and benchmarks on the real x86_64 kernel"
k64="case transcripts on the real arm64 kernel" khf="case transcripts on the real armhf kernel"
declare -A arm_what=([arm64]=$k64 [armhf]=$khf)
# The ARM tiers leave the failure sweeps out: their runs would add minutes to each.
sweeps="sweeps.t, sweeps-repair.t (the failure sweeps, on x86_64 only: their runs would add minutes per ARM tier)"
x86_run=(--cases --bench write --bench recovery) arm_run=(--leave-out sweeps --leave-out sweeps-repair)
kernel_tiers() { # the real-kernel runs: x86_64 with everything, the ARM tiers less the failure sweeps
  local arch what skipvar on=()
  for arch in arm64 armhf; do
    what=${arm_what[$arch]}
    skipvar=NANDKEEP_SKIP_KERNEL_${arch^^}
    if [ "${!skipvar:-0}" = 1 ]; then skip "$what" "$skipvar=1"; else on+=("$arch"); fi
  done
  if [ ${#on[@]} -lt 2 ]; then
    kernel "$k86" "$logs/kernel.log" "${x86_run[@]}"
    [ ${#on[@]} -eq 1 ] || return 0
    what=${arm_what[${on[0]}]}
    kernel "$what" "$logs/kernel-${on[0]}.log" --arch "${on[0]}" "${arm_run[@]}"
    skip "$what" "$sweeps" 2
    return
  fi
  # All three on two cores: the ARM tiers side by side, one guest each, and x86_64 on two guests
  # from when the first of them has ended, so that no core waits for the slower ARM tier's last
  # file. Each run's output shows when all have ended.
  log "the real-kernel tiers: arm64 and armhf side by side, one guest each, then x86_64 on two guests from when the first has ended (their output when all have ended)"
  for arch in "${on[@]}"; do
    NK_JOBS=1 tools/kernel/run.sh --arch "$arch" "${arm_run[@]}" >"$logs/kernel-$arch.log" 2>&1 &
  done
  wait -n
  tools/kernel/run.sh "${x86_run[@]}" >"$logs/kernel.log" 2>&1
  wait
  kernel_shown "$k86" "$logs/kernel.log"
  for arch in "${on[@]}"; do
    kernel_shown "${arm_what[$arch]}" "$logs/kernel-$arch.log"
    skip "${arm_what[$arch]}" "$sweeps" 2
  done
}
if [ ! -x tools/kernel/run.sh ]; then
  for what in "$k86" "$k64" "$khf"; do skip "$what" "tools/kernel/run.sh missing"; done
elif [ "${NANDKEEP_SKIP_KERNEL:-0}" = 1 ]; then
  for what in "$k86" "$k64" "$khf"; do skip "$what" "NANDKEEP_SKIP_KERNEL=1"; done
else
  kernel_tiers
fi
# The differential smoke run: a few seeded device states through the latest release and this
# tree; a change that was meant to keep behaviour shows any difference here.
dif="differential campaign against the latest release"
ref=$(git describe --tags --abbrev=0 --match 'v*' 2>/dev/null)
if [ -z "$ref" ]; then
  skip "$dif" "no release tag in this clone"
elif [ "${NANDKEEP_SKIP_DIFF:-0}" = 1 ]; then
  skip "$dif" "NANDKEEP_SKIP_DIFF=1"
else
  stage "$dif ($ref)" tests/diff/run.sh --ref "$ref" --states "${NANDKEEP_DIFF_STATES:-24}" \
    --seed "${NANDKEEP_DIFF_SEED:-20261206}" --jobs "$jobs"
fi
finish
