#!/bin/bash
# Runs case transcripts (tests/cases/*.t) and guest scripts on the real kernel: Debian's kernel
# boots under qemu-system-x86_64 (or qemu-system-aarch64, --arch arm64, or qemu-system-arm,
# --arch armhf; software emulation) with nandsim carrying the device's partition table, and the production nandkeep runs every case
# under cram in the guest, with the kernel backend of the case words. Prints one PASS,
# FAIL or SKIP line per file (with the diff of a failing transcript) and ends with
# "N passed, M failed", non-zero on a failure.
#
#   run.sh                      every case file
#   run.sh FILE.t...            these case files (or NK_CASES="records mtdchar")
#   run.sh --cases              every case file, with what follows
#   run.sh --leave-out NAME     every case file but NAME.t (may be given again), with what follows
#   run.sh --bench NAME         the benchmark bench/kernel/NAME.sh (its figures after its line)
#   run.sh --script FILE        any guest script (sh -eu; the case words are there to source)
#   run.sh --arch arm64 ...     the same on Debian's arm64 kernel with an aarch64 nandkeep
#   run.sh --arch armhf ...     the same on Debian's armmp kernel with a 32-bit ARM nandkeep
#
# Environment:
#   NK_ARCH                 x86_64 (default), arm64 or armhf, as --arch
#   NANDKEEP_KERNEL_CACHE   download cache (default ~/.cache/nandkeep-kernel)
#   NANDKEEP_KERNEL_WORK    build and artifact directory (default build-kernel/ in the repo)
#   NK_NANDKEEP_BIN         use this nandkeep (of the guest's architecture) instead of building one
#   NK_JOBS                 guests run side by side, the files spread over them (default 2)
#   NK_BOOT_TIMEOUT         seconds one guest may take with all its files (default 1800)
#   NK_JOB_TIMEOUT          seconds one file may take in the guest (default 600)
set -uo pipefail
# The architecture is settled before the shared settings read it.
for ((i = 1; i <= $#; i++)); do
    [ "${!i}" = --arch ] && { j=$((i + 1)) && NK_ARCH=${!j:-}; }
done
. "$(dirname "$0")/lib/common.sh"

NK_WORK=${NANDKEEP_KERNEL_WORK:-$NK_REPO_DIR/build-kernel}
# The x86_64 tier keeps the names it always had; arm64 and armhf have their own artifacts and
# builds.
sSuffix=
[ "$NK_ARCH" = x86_64 ] || sSuffix=-$NK_ARCH
NK_TIER_WORK=$NK_WORK/kernel-tier$sSuffix
NK_CASE_DIR=$NK_REPO_DIR/tests/cases
NK_JOBS=${NK_JOBS:-2}
NK_BOOT_TIMEOUT=${NK_BOOT_TIMEOUT:-1800}
NK_JOB_TIMEOUT=${NK_JOB_TIMEOUT:-600}

iStart=$(date +%s)
iPassed=0
iFailed=0
iSkipped=0
declare -a aJobs=() # "case|script SOURCE-PATH"

finish() {
    echo "kernel${sSuffix:+ ($NK_ARCH)}: $(($(date +%s) - iStart)) s wall time; artifacts in $NK_TIER_WORK"
    [ "$iSkipped" -eq 0 ] || echo "$iSkipped skipped (backend-specific files)"
    echo "$iPassed passed, $iFailed failed"
    [ "$iFailed" -eq 0 ] && [ "$iPassed" -gt 0 ]
    exit $?
}

# A stage that fails before the guests ran fails every planned job loudly.
stage_failed() {
    nk_log "stage failed: $1"
    iFailed=$((iFailed + ${#aJobs[@]}))
    [ ${#aJobs[@]} -gt 0 ] || iFailed=$((iFailed + 1))
    finish
}

add_case() { # PATH or NAME
    local sFile=$1
    [[ $sFile == */* || $sFile == *.t ]] || sFile=$NK_CASE_DIR/$sFile.t
    [ -f "$sFile" ] || nk_die "no case file $sFile"
    aJobs+=("case $(cd "$(dirname "$sFile")" && pwd)/$(basename "$sFile")")
}
add_all_cases() {
    local sFile
    for sFile in "$NK_CASE_DIR"/*.t; do
        [[ " ${aLeftOut[*]} " == *" $(basename "$sFile" .t) "* ]] || add_case "$sFile"
    done
}

bAll=
aLeftOut=()
while [ $# -gt 0 ]; do
    case $1 in
    --cases) bAll=1 ;;
    --leave-out)
        [ -f "$NK_CASE_DIR/${2:-}.t" ] || nk_die "--leave-out needs the name of a case file"
        bAll=1 aLeftOut+=("$2")
        shift
        ;;
    --arch) # read above
        [ -n "${2:-}" ] || nk_die "--arch needs x86_64, arm64 or armhf"
        shift
        ;;
    --bench)
        [ -f "$NK_REPO_DIR/bench/kernel/${2:-}.sh" ] || nk_die "no benchmark bench/kernel/${2:-}.sh"
        aJobs+=("script $NK_REPO_DIR/bench/kernel/$2.sh")
        shift
        ;;
    --script)
        [ -f "${2:-}" ] || nk_die "no script ${2:-}"
        aJobs+=("script $(cd "$(dirname "$2")" && pwd)/$(basename "$2")")
        shift
        ;;
    -*) nk_die "unknown option $1 (see the head of $0)" ;;
    *) add_case "$1" ;;
    esac
    shift
done
for sName in ${NK_CASES:-}; do add_case "$sName"; done
[ -n "$bAll" ] || [ ${#aJobs[@]} -eq 0 ] && add_all_cases
[ ${#aJobs[@]} -gt 0 ] || nk_die "no case file selected"

"$NK_TIER_DIR/install-deps.sh" >&2 || stage_failed "installing the Debian packages"
rm -rf "$NK_TIER_WORK"
mkdir -p "$NK_TIER_WORK"

nk_log "making the case inputs"
nk_timed 300 "$NK_CASE_DIR/inputs.sh" "$NK_TIER_WORK/inputs" >"$NK_TIER_WORK/inputs.log" 2>&1 ||
    stage_failed "making the case inputs (tests/cases/inputs.sh)"

nk_log "fetching the kernel"
sTree=$(nk_timed 900 "$NK_TIER_DIR/fetch-kernel.sh") || stage_failed "fetching the Debian kernel"
sRelease=$(cat "$sTree/release")
nk_log "kernel $sRelease from $sTree"

if [ -n "${NK_NANDKEEP_BIN:-}" ]; then
    sNandkeep=$NK_NANDKEEP_BIN
else
    nk_log "building nandkeep"
    sBuild=$NK_WORK
    aConfigure=(-DBUILD_TESTING=OFF)
    if [ -n "$NK_TOOLCHAIN" ]; then
        # A cross build, tests off by default, in a directory of its own.
        sBuild=$NK_WORK/nandkeep-$NK_ARCH
        aConfigure=(-DCMAKE_TOOLCHAIN_FILE="$NK_TOOLCHAIN")
    fi
    nk_timed 300 cmake -S "$NK_REPO_DIR" -B "$sBuild" "${aConfigure[@]}" >"$NK_TIER_WORK/cmake.log" 2>&1 &&
        nk_timed 900 cmake --build "$sBuild" --target nandkeep -j 2 >>"$NK_TIER_WORK/cmake.log" 2>&1 ||
        {
            tail -n 30 "$NK_TIER_WORK/cmake.log" >&2
            stage_failed "building nandkeep"
        }
    sNandkeep=$sBuild/nandkeep
fi
"${NK_CROSS}strip" -o "$NK_TIER_WORK/nandkeep.stripped" "$sNandkeep" ||
    stage_failed "stripping $sNandkeep (not an $NK_ARCH program?)"
nk_log "nandkeep ($NK_ARCH): $(stat -c %s "$NK_TIER_WORK/nandkeep.stripped") bytes stripped; needs: $(readelf -d "$sNandkeep" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')"

nk_log "building the partition-table and fault modules"
sModBuild=$NK_TIER_WORK/modules
cp -r "$NK_TIER_DIR/modules" "$sModBuild"
nk_timed 300 make -C "$sTree/root/usr/src/linux-headers-$sRelease" M="$sModBuild" \
    CROSS_COMPILE="$NK_CROSS" modules \
    >"$NK_TIER_WORK/module.log" 2>&1 || {
    tail -n 30 "$NK_TIER_WORK/module.log" >&2
    stage_failed "building the kernel modules"
}

nk_timed 120 "${NK_CROSS}gcc" -O2 -Wall -Wextra -Werror -o "$NK_TIER_WORK/mtdprobe" "$NK_TIER_DIR/probe/mtdprobe.c" ||
    stage_failed "building mtdprobe"

nk_log "building the initramfs"
sInitrd=$NK_TIER_WORK/initramfs.cpio.gz
nk_timed 300 "$NK_TIER_DIR/build-initramfs.sh" "$sTree" "$sNandkeep" "$sModBuild" \
    "$NK_TIER_WORK/mtdprobe" "$sInitrd" ||
    stage_failed "building the initramfs"

# The jobs spread over the guests, longest first onto the least loaded guest: a file's time in
# the last run (kept beside the artifacts), else its time on this architecture as
# case-seconds.txt notes it (a fresh clone: the line count misjudges the sweeps, a few lines that
# run hundreds of commands), else a second per five lines, or a guest of its own for a script.
iGuests=$((NK_JOBS < ${#aJobs[@]} ? NK_JOBS : ${#aJobs[@]}))
sTimes=$NK_WORK/kernel-times$sSuffix.txt
iColumn=$(case $NK_ARCH in arm64) echo 3 ;; armhf) echo 4 ;; *) echo 2 ;; esac)
job_weight() {
    local sPath=${1#* } sName iLast
    sName=$(basename "$sPath")
    iLast=$(awk -v n="$sName" '$1 == n { t = $2 } END { print t }' "$sTimes" 2>/dev/null)
    [ -n "$iLast" ] || iLast=$(awk -v n="$sName" -v c="$iColumn" \
        '$1 == n && $c ~ /^[0-9]+$/ { t = $c } END { print t }' "$NK_TIER_DIR/case-seconds.txt")
    [ -n "$iLast" ] || { [ "${1%% *}" = case ] && iLast=$(($(wc -l <"$sPath") / 5 + 1)); }
    echo "${iLast:-1000000}"
}
declare -a aLoad=() aGuestOf=()
for ((g = 1; g <= iGuests; g++)); do aLoad[g]=0; done
while read -r iWeight iJob; do
    iBest=1
    for ((g = 2; g <= iGuests; g++)); do
        [ "${aLoad[g]}" -lt "${aLoad[iBest]}" ] && iBest=$g
    done
    aLoad[iBest]=$((aLoad[iBest] + iWeight))
    aGuestOf[iJob]=$iBest
done < <(for i in "${!aJobs[@]}"; do echo "$(job_weight "${aJobs[i]}") $i"; done | sort -rn)

# One share per guest: boot settings, both geometries, the case words and runner, the inputs,
# the jobs and their results.
for ((g = 1; g <= iGuests; g++)); do
    sShare=$NK_TIER_WORK/guest$g
    mkdir -p "$sShare/cases" "$sShare/scripts" "$sShare/results"
    cp -al "$NK_TIER_WORK/inputs" "$sShare/inputs" 2>/dev/null || cp -r "$NK_TIER_WORK/inputs" "$sShare/inputs"
    cp "$NK_CASE_DIR/lib.sh" "$NK_CASE_DIR"/backend-*.sh "$sShare/cases/"
    {
        for sGeometry in 128 256; do
            sTable=$(nk_geometry_table "$sGeometry")
            [ -f "$sTable" ] || stage_failed "no partition table $sTable"
            echo "NK_NANDSIM_$sGeometry=\"$(nk_geometry_nandsim "$sGeometry")\""
            echo "NK_MTDTABLE_$sGeometry=\"$(nk_table_module_params "$sTable")\""
            echo "NK_PARTS_$sGeometry=$(nk_table_records "$sTable" | wc -l)"
            echo "NK_WHOLE_$sGeometry=$(nk_table_records "$sTable" | awk 'NR == 1 { print $1 }')"
        done
        echo "NK_JOB_TIMEOUT=$NK_JOB_TIMEOUT"
    } >"$sShare/boot.conf"
    : >"$sShare/jobs.list"
done
for i in "${!aJobs[@]}"; do
    sKind=${aJobs[i]%% *}
    sPath=${aJobs[i]#* }
    sShare=$NK_TIER_WORK/guest${aGuestOf[i]}
    [ "$sKind" = case ] && cp "$sPath" "$sShare/cases/" || cp "$sPath" "$sShare/scripts/"
    echo "$sKind $(basename "$sPath")" >>"$sShare/jobs.list"
done

declare -a aBootPid=() aBootStatus=()
for ((g = 1; g <= iGuests; g++)); do
    sShare=$NK_TIER_WORK/guest$g
    nk_log "booting guest $g: $(cut -d' ' -f2 "$sShare/jobs.list" | tr '\n' ' ')"
    "$NK_TIER_DIR/boot.sh" "$sTree" "$sInitrd" "$sShare" "$NK_TIER_WORK/console-$g.log" \
        "$NK_BOOT_TIMEOUT" &
    aBootPid[g]=$!
done
for ((g = 1; g <= iGuests; g++)); do
    wait "${aBootPid[g]}"
    aBootStatus[g]=$?
done

# The verdicts, in the order the files were named.
for i in "${!aJobs[@]}"; do
    sKind=${aJobs[i]%% *}
    sName=$(basename "${aJobs[i]#* }")
    g=${aGuestOf[i]}
    sResult=$NK_TIER_WORK/guest$g/results/$sName
    sLabel=$sName
    [ "$sKind" = script ] && sLabel="script $sName"
    if [ ! -f "$sResult.verdict" ]; then
        echo "FAIL $sLabel: no result (guest $g ended with ${aBootStatus[g]}; console in $NK_TIER_WORK/console-$g.log)"
        [ -f "$sResult.log" ] && sed 's/^/    | /' "$sResult.log" | tail -n 40
        iFailed=$((iFailed + 1))
        continue
    fi
    sTime="($(cat "$sResult.time" 2>/dev/null) s)"
    echo "$sName $(cat "$sResult.time" 2>/dev/null)" >>"$sTimes"
    case $(cat "$sResult.verdict") in
    pass)
        echo "PASS $sLabel $sTime"
        # A script's figures (a benchmark's) show under its line.
        [ "$sKind" = script ] && sed 's/^/    /' "$sResult.log"
        iPassed=$((iPassed + 1))
        ;;
    skip)
        echo "SKIP $sLabel"
        iSkipped=$((iSkipped + 1))
        ;;
    timeout)
        echo "FAIL $sLabel: over its $NK_JOB_TIMEOUT s $sTime"
        sed 's/^/    | /' "$sResult.log" | tail -n 60
        iFailed=$((iFailed + 1))
        ;;
    *)
        echo "FAIL $sLabel $sTime"
        sed 's/^/    | /' "$sResult.log"
        iFailed=$((iFailed + 1))
        ;;
    esac
done
# One line per file, the latest time.
[ -f "$sTimes" ] && awk '{ t[$1] = $2 } END { for (n in t) print n, t[n] }' "$sTimes" >"$sTimes.new" &&
    mv "$sTimes.new" "$sTimes"
finish
