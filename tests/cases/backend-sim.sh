# The simulator backend of the case words (see lib.sh): nandkeep-sim on a simulated chip kept in
# ./flash of the transcript's directory. The tool is reached as "nandkeep" through a link, so
# programs the tool starts (the flashstatus command) find it under the same name.
: "${NK_SIM_BIN:?}" "${NK_SIMCTL:?}"
NANDKEEP_SIM_DIR=$PWD/flash
NANDKEEP_SIM_TRACE=$PWD/ops.trace
export NANDKEEP_SIM_DIR NANDKEEP_SIM_TRACE
mkdir -p "$PWD/bin"
if [ -n "${NANDKEEP_TEST_LAUNCHER:-}" ]; then
    # Binaries of another architecture run through the emulator the launcher names.
    printf '#!/bin/sh\nexec %s %s "$@"\n' "$NANDKEEP_TEST_LAUNCHER" "$NK_SIM_BIN" >"$PWD/bin/nandkeep"
    printf '#!/bin/sh\nexec %s %s "$@"\n' "$NANDKEEP_TEST_LAUNCHER" "$NK_SIMCTL" >"$PWD/bin/simctl"
    chmod +x "$PWD/bin/nandkeep" "$PWD/bin/simctl"
    NK_SIMCTL=$PWD/bin/simctl
else
    ln -sf "$NK_SIM_BIN" "$PWD/bin/nandkeep"
fi
# The device's own programs (the parameter store's stand-in) come last, as on the device; the
# system log stays the host's business.
printf '#!/bin/sh\n' >"$PWD/bin/logger" && chmod +x "$PWD/bin/logger"
PATH=$PWD/bin:$PATH:$NANDKEEP_SIM_DIR/bin
NK_BOOT_SCRIPT=$(cd "$TESTDIR/../.." && pwd)/boot/nandkeep-boot.sh

nk_simctl() {
    "$NK_SIMCTL" "$@" || {
        echo "nandkeep-simctl $* failed" >&2
        return 1
    }
}

nk_device() {
    sGeometry=$1
    shift
    nk_simctl create --profile "$sGeometry" >/dev/null || return 1
    rm -f "$NANDKEEP_SIM_TRACE"
    : >"$NANDKEEP_SIM_TRACE"
    NK_TRACE_SEEN=0
    NK_SYSLOG_SEEN=0
    for sFault in "$@"; do
        sList=${sFault#*=}
        for sItem in $(echo "$sList" | tr , ' '); do
            sWhere=${sItem%%:*}
            sCount=${sItem#*:}
            case $sFault in
            badblocks=*) nk_simctl fault add bad "$sItem" ;;
            weakblocks=*)
                if [ "$sCount" -eq 0 ]; then
                    nk_simctl fault add erase-fail "$sWhere"
                else
                    nk_simctl fault add wear-out "$sWhere" "$sCount"
                fi
                ;;
            weakpages=*) nk_simctl fault add weak-page $((sWhere / 64)) "$sCount" --page $((sWhere % 64)) ;;
            gravepages=*)
                [ "$sCount" -eq 0 ] || { echo "gravepages=P:N: the simulator fails from the first read" >&2; return 1; }
                nk_simctl fault add uncorrectable $((sWhere / 64)) --page $((sWhere % 64))
                ;;
            *) echo "nk_device: unknown fault $sFault" >&2; return 1 ;;
            esac || return 1
        done
    done
}

nk_erased() {
    iLines=$(wc -l <"$NANDKEEP_SIM_TRACE")
    tail -n +$((NK_TRACE_SEEN + 1)) "$NANDKEEP_SIM_TRACE" | head -n $((iLines - NK_TRACE_SEEN)) |
        awk '$1 == "E" { print $2 }' | tr '\n' ' ' | nk_runs
    NK_TRACE_SEEN=$iLines
}

nk_bad() {
    nk_simctl bad | awk '{ print $1 }' | tr '\n' ' ' | nk_runs
}

nk_ecc() {
    nk_simctl ecc | awk '$1 == "corrected" { c = $2 } $1 == "failed" { f = $2 }
                         END { print "corrected " c " failed " f }'
}

# Through a pipe: saving to /dev/stdout would truncate a standard output that is a file.
nk_dump() {
    nk_simctl save /dev/stdout "$1" "$2" | cat
}

nk_flip() {
    nk_simctl flip "$1" "$2"
}

nk_syslog() {
    [ -f "$NANDKEEP_SIM_DIR/syslog" ] || return 0
    iLines=$(wc -l <"$NANDKEEP_SIM_DIR/syslog")
    tail -n +$((NK_SYSLOG_SEEN + 1)) "$NANDKEEP_SIM_DIR/syslog" | head -n $((iLines - NK_SYSLOG_SEEN))
    NK_SYSLOG_SEEN=$iLines
}

nk_flashstatus() {
    nk_simctl flashstatus
}
