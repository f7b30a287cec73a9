# The simulator backend of the case words (see lib.sh): nandkeep-sim on a simulated chip kept in
# ./flash of the transcript's directory. The tool is reached as "nandkeep" through a link, so
# programs the tool starts (the flashstatus command) find it under the same name.
: "${NK_SIM_BIN:?}" "${NK_SIMCTL:?}"
NANDKEEP_SIM_DIR=$PWD/flash
NANDKEEP_SIM_TRACE=$PWD/ops.trace
export NANDKEEP_SIM_DIR NANDKEEP_SIM_TRACE
mkdir -p "$PWD/bin" && ln -sf "$NK_SIM_BIN" "$PWD/bin/nandkeep"
# The device's own programs (the parameter store's stand-in) come last, as on the device. The
# system log is the device's: logger adds "facility.priority tag: message" lines to it, as the
# tool does (user.notice and the user's name unless -p and -t say otherwise).
cat >"$PWD/bin/logger" <<'EOF'
#!/bin/sh
sTag=$(id -un) sPrio=user.notice
while getopts t:p: o; do case $o in t) sTag=$OPTARG ;; p) sPrio=$OPTARG ;; *) exit 1 ;; esac; done
shift $((OPTIND - 1))
case $sPrio in *.*) ;; *) sPrio=user.$sPrio ;; esac
echo "$sPrio $sTag: $*" >>"$NANDKEEP_SIM_DIR/syslog"
EOF
chmod +x "$PWD/bin/logger"
PATH=$PWD/bin:$PATH:$NANDKEEP_SIM_DIR/bin
NK_BOOT_SCRIPT=$(cd "$TESTDIR/../.." && pwd)/boot/nandkeep-boot.sh
NK_VERIFY_LOG=$NANDKEEP_SIM_DIR/ramdisk/flashVerifyResult
NK_LOCK=$NANDKEEP_SIM_DIR/lock
# The flash itself, as a destination: the simulator's cells and state.
NK_FLASH_NODES="$NANDKEEP_SIM_DIR/flash.bin $NANDKEEP_SIM_DIR/state.bin"
NK_TRYLOCK="flock -n $NK_LOCK true"

nk_simctl() {
    "$NK_SIMCTL" "$@" || {
        echo "nandkeep-simctl $* failed" >&2
        return 1
    }
}

nk_device() {
    sGeometry=$1
    shift
    # A chip of 2^K blocks (overridesize=K, with the 128 MiB geometry's ECC) has one partition;
    # table=NAME:OFFSET:SIZE,... is another partition table, record 0 the whole chip.
    sCreate="--profile $sGeometry"
    sBits=$(echo " $* " | sed -n 's/.* overridesize=\([0-9]*\) .*/\1/p')
    [ -z "$sBits" ] || sCreate="--blocks $((1 << sBits))"
    sSpec=$(echo " $* " | sed -n 's/.* table=\([^ ]*\) .*/\1/p')
    [ -z "$sSpec" ] || { echo "$sSpec" | tr ',:' '\n ' >nk_table.txt && sCreate="$sCreate --table nk_table.txt"; }
    # shellcheck disable=SC2086
    nk_simctl create $sCreate >/dev/null && : >"$NANDKEEP_SIM_TRACE" || return 1
    for sFault in "$@"; do
        case $sFault in overridesize=* | table=*) continue ;; esac
        sList=${sFault#*=}
        for sItem in $(echo "$sList" | tr , ' '); do
            # nandsim's words: BLOCK or PAGE, then what still works (3 when not given).
            sWhere=${sItem%%:*}
            sCount=3
            [ "$sItem" = "$sWhere" ] || sCount=${sItem#*:}
            case $sFault in
            badblocks=*) nk_simctl fault add bad "$sItem" ;;
            weakblocks=*) nk_simctl fault add weak-block "$sWhere" "$sCount" ;;
            weakpages=*) nk_simctl fault add weak-page $((sWhere / 64)) "$sCount" --page $((sWhere % 64)) ;;
            gravepages=*) nk_simctl fault add grave-page $((sWhere / 64)) "$sCount" --page $((sWhere % 64)) ;;
            *) echo "nk_device: unknown fault $sFault" >&2; return 1 ;;
            esac || return 1
        done
    done
}

# The trace and the log are emptied as they are read, as on the kernel; the processes append.
nk_erased() {
    awk '$1 == "E" { print $2 }' "$NANDKEEP_SIM_TRACE" | tr '\n' ' ' | nk_runs
    : >"$NANDKEEP_SIM_TRACE"
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
    cat "$NANDKEEP_SIM_DIR/syslog" && : >"$NANDKEEP_SIM_DIR/syslog"
}

nk_flashstatus() {
    nk_simctl flashstatus
}

nk_short() {
    nk_simctl fault add "short-$1" "$2" >/dev/null
}

nk_fail() {
    nk_simctl fault add "$1-fail" "$2" >/dev/null
}

nk_table() {
    echo "$NANDKEEP_SIM_DIR/proc_mtd"
}

nk_facts() {
    nk_simctl facts /dev/mtd0 "/dev/mtd$1" "$2" "$3"
}

# Each run of nk_sweep (lib.sh) starts from a copy of the device as found, its log and trace
# included, with the simulator's counted-failure fault set. Under the sanitizers the control
# tool's two calls a run skip the leak check at exit, which costs more than the call itself: the
# same two commands are leak-checked where the cases call them one at a time.
nk_sweep() {
    sKind=$1
    shift
    rm -rf sweep.dev && cp -a "$NANDKEEP_SIM_DIR" sweep.dev && cp "$NANDKEEP_SIM_TRACE" sweep.trace ||
        return 1
    iRead=1
    : >sweep.runs
    sNoLeakCheck=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
    while rm -rf "$NANDKEEP_SIM_DIR" && cp -a sweep.dev "$NANDKEEP_SIM_DIR" &&
        ASAN_OPTIONS=$sNoLeakCheck "$NK_SIMCTL" fault add "$sKind" "$iRead" >/dev/null; do
        "$@" >>sweep.runs 2>&1
        iStatus=$?
        ! ASAN_OPTIONS=$sNoLeakCheck "$NK_SIMCTL" fault list | grep -q "^device $sKind " || break
        echo "@@run $iStatus" >>sweep.runs
        iRead=$((iRead + 1))
    done
    nk_sweep_report "$sKind" sweep.runs | nk_tally_runs
    rm -rf "$NANDKEEP_SIM_DIR" && mv sweep.dev "$NANDKEEP_SIM_DIR" && mv sweep.trace "$NANDKEEP_SIM_TRACE"
}
