#!/bin/bash
# The real-kernel tier: boots Debian's kernel under qemu-system-x86_64 (software emulation)
# with nandsim carrying the device's partition table, runs the production nandkeep in every
# scenario under scenarios/, and checks the results on the host. Ends with the line
# "N passed, M failed" and a non-zero status on any failure.
#
# Environment:
#   NANDKEEP_KERNEL_CACHE   download cache (default ~/.cache/nandkeep-kernel)
#   NANDKEEP_KERNEL_WORK    build and artifact directory (default build-kernel/ in the repo)
#   NK_SCENARIOS            scenario names to run (default: all)
#   NK_GEOMETRIES           geometries to boot (default: "128 256")
#   NK_NANDKEEP_BIN         use this nandkeep instead of building one
#   NK_BOOT_TIMEOUT         seconds one boot may take with all its scenarios (default 480)
#   NK_SCENARIO_TIMEOUT     default seconds per scenario in the guest (default 150)
#   NK_JOBS                 boots run at the same time (default 2)
set -uo pipefail
. "$(dirname "$0")/lib/common.sh"

NK_WORK=${NANDKEEP_KERNEL_WORK:-$NK_REPO_DIR/build-kernel}
NK_TIER_WORK=$NK_WORK/kernel-tier
NK_GEOMETRIES=${NK_GEOMETRIES:-128 256}
NK_BOOT_TIMEOUT=${NK_BOOT_TIMEOUT:-480}
NK_SCENARIO_TIMEOUT=${NK_SCENARIO_TIMEOUT:-150}
NK_JOBS=${NK_JOBS:-2}

"$NK_TIER_DIR/install-deps.sh" >&2 || {
    echo "0 passed, 1 failed"
    exit 1
}

iStart=$(date +%s)
iPassed=0
iFailed=0
declare -a aPlanned=() # "geometry name" of every scenario run planned

finish() {
    echo "kernel tier: $(($(date +%s) - iStart)) s wall time; artifacts in $NK_TIER_WORK"
    echo "$iPassed passed, $iFailed failed"
    [ "$iFailed" -eq 0 ] && [ "$iPassed" -gt 0 ]
    exit $?
}

# A stage that fails before the guest ran fails every planned scenario run loudly.
stage_failed() {
    nk_log "stage failed: $1"
    iFailed=$((iFailed + ${#aPlanned[@]}))
    [ ${#aPlanned[@]} -gt 0 ] || iFailed=$((iFailed + 1))
    finish
}

scenario_meta() {
    sed -n "s/^#@ $2 //p" "$NK_TIER_DIR/scenarios/$1/guest.sh" | head -n1
}

# Scenarios and the geometries each runs on.
for sDir in "$NK_TIER_DIR"/scenarios/*/; do
    sName=$(basename "$sDir")
    [ -f "$sDir/guest.sh" ] && [ -f "$sDir/check.sh" ] || nk_die "scenario $sName needs guest.sh and check.sh"
    if [ -n "${NK_SCENARIOS:-}" ] && [[ " $NK_SCENARIOS " != *" $sName "* ]]; then
        continue
    fi
    sWanted=$(scenario_meta "$sName" geometry)
    for sGeometry in $NK_GEOMETRIES; do
        if [ -z "$sWanted" ] || grep -qw "$sGeometry" <<<"$sWanted"; then
            aPlanned+=("$sGeometry $sName")
        fi
    done
done
[ ${#aPlanned[@]} -gt 0 ] || stage_failed "no scenario selected"
mkdir -p "$NK_TIER_WORK"

nk_log "fetching the kernel"
sTree=$(nk_timed 900 "$NK_TIER_DIR/fetch-kernel.sh") || stage_failed "fetching the Debian kernel"
sRelease=$(cat "$sTree/release")
nk_log "kernel $sRelease from $sTree"

if [ -n "${NK_NANDKEEP_BIN:-}" ]; then
    sNandkeep=$NK_NANDKEEP_BIN
else
    nk_log "building nandkeep"
    nk_timed 300 cmake -S "$NK_REPO_DIR" -B "$NK_WORK" -DNANDKEEP_TESTS=OFF >"$NK_TIER_WORK/cmake.log" 2>&1 &&
        nk_timed 900 cmake --build "$NK_WORK" --target nandkeep -j 2 >>"$NK_TIER_WORK/cmake.log" 2>&1 ||
        {
            tail -n 30 "$NK_TIER_WORK/cmake.log" >&2
            stage_failed "building nandkeep"
        }
    sNandkeep=$NK_WORK/nandkeep
fi
strip -o "$NK_TIER_WORK/nandkeep.stripped" "$sNandkeep"
nk_log "nandkeep (x86_64): $(stat -c %s "$NK_TIER_WORK/nandkeep.stripped") bytes stripped; needs: $(readelf -d "$sNandkeep" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')"

nk_log "building the partition-table module"
sModBuild=$NK_TIER_WORK/mtdtable
rm -rf "$sModBuild"
cp -r "$NK_TIER_DIR/mtdtable" "$sModBuild"
nk_timed 300 make -C "$sTree/root/usr/src/linux-headers-$sRelease" M="$sModBuild" modules \
    >"$NK_TIER_WORK/module.log" 2>&1 || {
    tail -n 30 "$NK_TIER_WORK/module.log" >&2
    stage_failed "building the mtdtable module"
}

nk_timed 120 gcc -O2 -Wall -Wextra -Werror -o "$NK_TIER_WORK/mtdprobe" "$NK_TIER_DIR/probe/mtdprobe.c" ||
    stage_failed "building mtdprobe"

nk_log "building the initramfs"
sInitrd=$NK_TIER_WORK/initramfs.cpio.gz
nk_timed 300 "$NK_TIER_DIR/build-initramfs.sh" "$sTree" "$sNandkeep" "$sModBuild/mtdtable.ko" \
    "$NK_TIER_WORK/mtdprobe" "$sInitrd" ||
    stage_failed "building the initramfs"

# One share per geometry: boot settings, the scenario scripts and their inputs, the results.
declare -A aPrepareFailed=()
for sGeometry in $NK_GEOMETRIES; do
    sShare=$NK_TIER_WORK/g$sGeometry
    rm -rf "$sShare"
    mkdir -p "$sShare/scenarios" "$sShare/results"
    sTable=$(nk_geometry_table "$sGeometry")
    [ -f "$sTable" ] || stage_failed "no partition table $sTable"
    {
        echo "NK_GEOMETRY=$sGeometry"
        echo "NK_NANDSIM_PARAMS=\"$(nk_geometry_nandsim "$sGeometry")\""
        echo "NK_MTDTABLE_PARAMS=\"$(nk_table_module_params "$sTable")\""
        echo "NK_PART_COUNT=$(nk_table_records "$sTable" | wc -l)"
        echo "NK_SCENARIO_TIMEOUT=$NK_SCENARIO_TIMEOUT"
    } >"$sShare/boot.conf"
    : >"$sShare/scenarios.list"
    for sRun in "${aPlanned[@]}"; do
        [ "${sRun%% *}" = "$sGeometry" ] || continue
        sName=${sRun#* }
        mkdir -p "$sShare/scenarios/$sName/input"
        cp "$NK_TIER_DIR/scenarios/$sName/guest.sh" "$sShare/scenarios/$sName/"
        if [ -f "$NK_TIER_DIR/scenarios/$sName/prepare.sh" ]; then
            if ! (cd "$sShare/scenarios/$sName/input" &&
                NK_IN=$PWD NK_GEOMETRY=$sGeometry NK_TABLE=$sTable NK_TIER_DIR=$NK_TIER_DIR \
                    nk_timed 120 bash -eu "$NK_TIER_DIR/scenarios/$sName/prepare.sh") \
                >"$sShare/scenarios/$sName/prepare.log" 2>&1; then
                aPrepareFailed[$sRun]=1
                continue
            fi
        fi
        echo "$sName" >>"$sShare/scenarios.list"
    done
done

# The boots, NK_JOBS at a time.
declare -A aBootStatus=()
declare -A aBootPid=()
iRunning=0
for sGeometry in $NK_GEOMETRIES; do
    sShare=$NK_TIER_WORK/g$sGeometry
    [ -s "$sShare/scenarios.list" ] || continue
    nk_log "booting the $sGeometry MiB guest ($(wc -l <"$sShare/scenarios.list") scenarios)"
    "$NK_TIER_DIR/boot.sh" "$sTree" "$sInitrd" "$sShare" "$NK_TIER_WORK/console-$sGeometry.log" \
        "$NK_BOOT_TIMEOUT" &
    aBootPid[$sGeometry]=$!
    iRunning=$((iRunning + 1))
    if [ "$iRunning" -ge "$NK_JOBS" ]; then
        wait -n
        iRunning=$((iRunning - 1))
    fi
done
for sGeometry in "${!aBootPid[@]}"; do
    wait "${aBootPid[$sGeometry]}"
    aBootStatus[$sGeometry]=$?
done

# Host-side checks.
for sRun in "${aPlanned[@]}"; do
    sGeometry=${sRun%% *}
    sName=${sRun#* }
    sShare=$NK_TIER_WORK/g$sGeometry
    sResults=$sShare/results/$sName
    sLabel="$sName [$sGeometry MiB]"
    if [ -n "${aPrepareFailed[$sRun]:-}" ]; then
        echo "FAIL $sLabel: input preparation failed"
        sed 's/^/      | /' "$sShare/scenarios/$sName/prepare.log" | tail -n 20
        iFailed=$((iFailed + 1))
        continue
    fi
    if [ ! -f "$sResults/scenario.status" ]; then
        echo "FAIL $sLabel: the guest produced no result (boot status ${aBootStatus[$sGeometry]:-none}; console in $NK_TIER_WORK/console-$sGeometry.log)"
        [ -f "$sResults/setup-error.txt" ] && sed 's/^/      | /' "$sResults/setup-error.txt" | tail -n 20
        iFailed=$((iFailed + 1))
        continue
    fi
    sReport=$(
        cd "$sResults" || exit 1
        . "$NK_TIER_DIR/lib/check.sh"
        NK_IN=$sShare/scenarios/$sName/input
        NK_GEOMETRY=$sGeometry
        NK_TABLE=$(nk_geometry_table "$sGeometry")
        iScenarioStatus=$(cat scenario.status)
        if [ "$iScenarioStatus" != 0 ]; then
            nk_fail "the guest script ended with status $iScenarioStatus; its log:"
            tail -n 20 scenario.log | sed 's/^/        | /'
        fi
        . "$NK_TIER_DIR/scenarios/$sName/check.sh"
        iFails=$(nk_fail_count)
        rm -f "$NK_FAIL_LOG"
        exit $((iFails > 0))
    )
    if [ $? -eq 0 ]; then
        echo "PASS $sLabel"
        # Benchmarks print their figures from the check.
        [ -n "$sReport" ] && echo "$sReport"
        iPassed=$((iPassed + 1))
        # Flash dumps are large; they are kept only where a check failed.
        rm -f "$sResults"/*.dump
    else
        echo "FAIL $sLabel"
        [ -n "$sReport" ] && echo "$sReport"
        iFailed=$((iFailed + 1))
    fi
done
for sGeometry in "${!aBootStatus[@]}"; do
    if [ "${aBootStatus[$sGeometry]}" -ne 0 ]; then
        echo "the $sGeometry MiB boot failed; console kept in $NK_TIER_WORK/console-$sGeometry.log"
    fi
done
finish
