#!/usr/bin/env bash
# Shows that the differential campaign catches what it claims. A copy of HEAD's sources
# (build-diff/selftest/src) is built beside HEAD itself; unchanged, it must give 0 differences
# on N states (determinism across two builds); then one planted behaviour change at a time is
# made in the copy, rebuilt, and the campaign must report a difference of the kind the plant
# causes within M states. The plants never reach the source tree.
#
#   tests/diff/selftest.sh [--states N] [--plant-states M] [--seed S] [--jobs J] [PLANT...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
states=200 plant_states=300 seed=1 jobs=2
while [ $# -gt 0 ]; do
    case $1 in
    --states) states=$2; shift ;;
    --plant-states) plant_states=$2; shift ;;
    --seed) seed=$2; shift ;;
    --jobs) jobs=$2; shift ;;
    -*) sed -n '8p' "$0" >&2; exit 2 ;;
    *) break ;;
    esac
    shift
done
only=("$@")

copy=$top/build-diff/selftest/src
rm -rf "$copy" && mkdir -p "$copy"
git -C "$top" archive HEAD | tar -x -C "$copy"
failed=0
log=$top/build-diff/selftest/log
if [ "$states" -gt 0 ] && [ ${#only[@]} -eq 0 ]; then
    echo "== unchanged copy of HEAD, $states states"
    "$here/run.sh" --ref HEAD --new "$copy" --states "$states" --seed "$seed" --jobs "$jobs" \
        >"$log" 2>&1 || true
    grep 'states, ' "$log" | tail -n 1
    grep -qx "$states states, 0 differences" "$log" || {
        echo "FAIL: the unchanged copy differs"
        failed=1
    }
fi

# plant NAME FILE WHAT OPTION FROM TO: FROM replaced by TO (fixed strings, there exactly once)
# in FILE of the copy must be reported as a difference in WHAT by a run given OPTION.
plant() {
    local name=$1 file=$2 what=$3 option=$4
    [ ${#only[@]} -eq 0 ] || [[ " ${only[*]} " == *" $name "* ]] || return 0
    python3 -c '
import sys
path, old, new = sys.argv[1:]
text = open(path).read()
assert text.count(old) == 1, "%s: the plant is not there exactly once" % path
open(path, "w").write(text.replace(old, new))' "$copy/$file" "$5" "$6"
    echo "== plant $name: $file"
    "$here/run.sh" --ref HEAD --new "$copy" --states "$plant_states" --seed "$seed" --jobs "$jobs" \
        --first $option >"$log.$name" 2>&1 || true
    git -C "$top" show "HEAD:$file" >"$copy/$file"
    grep -m 1 -A 3 ' differs' "$log.$name" | sed 's/^/    /' || true
    grep 'states, ' "$log.$name" | tail -n 1
    if ! grep ' differs' "$log.$name" | grep -q "$what"; then
        echo "FAIL: plant $name not reported as a difference in $what"
        failed=1
    fi
}
plant notify src/upgrade/recovery.cpp stdout '' \
    '"check Source mkimg fail"' '"check source mkimg fail"'
plant syslog src/flash/mtdio.cpp 'system log' '' \
    'read() System too slow!' 'read() system too slow!'
plant status src/image/configcmd.cpp 'exit status' '' '++iValid == 2' '++iValid == 1'
plant subimage src/image/mkimg.cpp flash '' \
    'ulEnd - ulEnd % NANDKEEP_PIECE + NANDKEEP_PIECE' \
    '(ulEnd + NANDKEEP_PIECE - 1) / NANDKEEP_PIECE * NANDKEEP_PIECE'
plant eccrule src/flash/compare.cpp differs '' \
    '(g_b1BitECC == 1 && tNow.corrected != tSnap.corrected)' '(tNow.corrected != tSnap.corrected)'
plant singlepass src/upgrade/recovery.cpp 'ecc mtd0' '' \
    '*pbUnchanged = bQuiet;' '*pbUnchanged = false;'
plant verifydata src/factorytest/flashverify.cpp flash '' '256.0 * std::ldexp' '255.0 * std::ldexp'
plant tempconfscan src/image/configcmd.cpp differs '' 'MAX_FAILURES = 3;' 'MAX_FAILURES = 4;'
plant subimage-via-simctl src/image/mkimg.cpp flash --via-simctl \
    'ulEnd - ulEnd % NANDKEEP_PIECE + NANDKEEP_PIECE' \
    '(ulEnd + NANDKEEP_PIECE - 1) / NANDKEEP_PIECE * NANDKEEP_PIECE'

# Leave the copy as HEAD has it, so that the next run starts from a clean build.
ninja -C "$copy-build" -j2 nandkeep-sim nandkeep-simctl >/dev/null
exit $failed
