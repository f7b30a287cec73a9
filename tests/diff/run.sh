#!/usr/bin/env bash
# The differential campaign: the same seeded device states through two builds of nandkeep, the
# simulator build of git revision REV ("ref") and of the working tree ("new"); everything a user
# or the device can observe must be identical. See README.md beside this file.
#
#   tests/diff/run.sh --ref REV [--states N] [--seed S] [--jobs J] [--keep] [--only K]
#                     [--first] [--new DIR] [--via-simctl]
#
# Builds both (RelWithDebInfo, targets nandkeep-sim and nandkeep-simctl) under build-diff/,
# REV from `git archive` into build-diff/ref-<commit>/src, the working tree in build-diff/new;
# existing build directories are reused. gen.py writes N scenarios drawn from seed S (default:
# from the clock, printed) to build-diff/scenarios/S/, runner.py plays them on both builds, J at
# a time, and prints every difference, then "N states, D differences". Exit status 0 only when
# both builds ran every scenario and nothing differed. --only K plays scenario K alone, --first
# stops at the first scenario that differs, --new DIR builds the source tree DIR (in DIR-build)
# instead of the working tree (selftest.sh plants faults in such a copy), --via-simctl reads the
# chip and its state through each side's simctl at every step (slow; see runner.py); --keep
# keeps the state directories of every side in the scratch directory (NANDKEEP_DIFF_SCRATCH,
# default /dev/shm when it exists: the simulated chips are files the tool maps).
#
# Determinism. Everything the runner compares is a function of the scenario, with one
# exception found in the tool: flashVerify seeds rand() with time(), so its reference data, the
# flash it programs and any line that depends on them would change from run to run. The runner
# preloads pintime.c, a time() that answers the scenario's `time` line, into both builds' tool,
# so those are compared too and nothing is excluded. Nothing else reads the clock, a pid or a
# random source (the simulator's pseudo-random choices come from the seed given to `create`,
# which every scenario sets); the side's own directory name, the only other thing that differs
# between the sides, is replaced by <dir> in every output and file before comparing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
ref='' states=20 seed='' jobs=2 keep='' only='' first='' new='' via=''
while [ $# -gt 0 ]; do
    case $1 in
    --ref) ref=$2; shift ;;
    --states) states=$2; shift ;;
    --seed) seed=$2; shift ;;
    --jobs) jobs=$2; shift ;;
    --only) only=$2; shift ;;
    --new) new=$(cd "$2" && pwd); shift ;;
    --first) first=--first ;;
    --via-simctl) via=--via-simctl ;;
    --keep) keep=--keep ;;
    *) sed -n '7,9p' "$0" >&2; exit 2 ;;
    esac
    shift
done
[ -n "$ref" ] || { echo "run.sh: --ref REV is required" >&2; exit 2; }
seed=${seed:-$(date +%s)}
area=$top/build-diff
commit=$(git -C "$top" rev-parse --verify "$ref^{commit}")

build() { # SOURCE BUILD-DIR
    if [ ! -f "$2/build.ninja" ]; then
        cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$2.log" 2>&1 ||
            { cat "$2.log" >&2; echo "run.sh: cannot configure $1" >&2; return 1; }
    fi
    ninja -C "$2" -j2 nandkeep-sim nandkeep-simctl >"$2.log" 2>&1 ||
        { tail -n 30 "$2.log" >&2; echo "run.sh: cannot build $1" >&2; return 1; }
}

mkdir -p "$area"
refsrc=$area/ref-$commit/src
if [ ! -f "$refsrc/CMakeLists.txt" ]; then
    rm -rf "$refsrc" && mkdir -p "$refsrc"
    git -C "$top" archive "$commit" | tar -x -C "$refsrc"
fi
newbuild=${new:+$new-build}
newbuild=${newbuild:-$area/new}
echo "ref: $ref ($commit), new: ${new:-the working tree}"
build "$refsrc" "$area/ref-$commit/build"
build "${new:-$top}" "$newbuild"
cc -std=c11 -O2 -shared -fPIC -Wall -Wextra -Werror -pedantic -o "$area/pintime.so" \
    "$here/pintime.c"

out=$area/scenarios/$seed${only:+-$only}
rm -rf "$out"
if [ -n "$only" ]; then
    mkdir -p "$out"
    "$here/gen.py" --seed "$seed" --index "$only" >"$out/s$(printf %05d "$only").txt"
else
    "$here/gen.py" --seed "$seed" --count "$states" --out "$out"
fi
scratch=${NANDKEEP_DIFF_SCRATCH:-}
[ -n "$scratch" ] || { [ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm || scratch=$area; }
echo "seed $seed: scenarios in $out; one again: tests/diff/run.sh --ref $ref --seed $seed --only K"
echo "  or: tests/diff/runner.py --ref $area/ref-$commit/build --new $newbuild" \
    "--shim $area/pintime.so FILE"
start=$(date +%s)
status=0
"$here/runner.py" --ref "$area/ref-$commit/build" --new "$newbuild" --shim "$area/pintime.so" \
    --jobs "$jobs" --scratch "$scratch" $keep $first $via "$out"/s*.txt || status=$?
echo "($(($(date +%s) - start)) s)" >&2
exit $status
