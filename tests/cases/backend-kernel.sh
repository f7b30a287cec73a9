# The real-kernel backend of the case words (see lib.sh): the production nandkeep on nandsim in
# the guest that tools/kernel/run.sh boots. nk-flash loads the chip and its partition table, a
# kprobe on the NAND layer's erase operation lists the erased blocks in the trace buffer,
# syslogd writes /var/log/messages, and the stand-ins of the flashstatus command keep the
# parameter store in /var/lib/cfgvault. The trace and the log are emptied as they are read.
NK_TRACE=/sys/kernel/tracing/trace
NK_LOG=/var/log/messages
# The boot script, where the package installs it.
NK_BOOT_SCRIPT=/usr/share/nandkeep/nandkeep-boot.sh
NK_VERIFY_LOG=/mnt/ramdisk/flashVerifyResult
# The device lock is taken on the whole-device node.
NK_LOCK=/dev/mtd0
# The flash itself, as a destination: the whole-device node and the block device over a
# partition.
NK_FLASH_NODES="/dev/mtd0 /dev/mtdblock3"
NK_TRYLOCK="mtdprobe trylock $NK_LOCK"

# Waits until syslogd has written out every line logged so far.
nk_log_sync() {
    logger -t nk-mark sync
    iTries=0
    until grep -q ' nk-mark: sync$' "$NK_LOG"; do
        iTries=$((iTries + 1))
        [ "$iTries" -lt 200 ] || { echo "syslogd wrote nothing" >&2; return 1; }
        sleep 0.05
    done
}

nk_device() {
    ! grep -qs ' /proc/mtd ' /proc/mounts || umount /proc/mtd || return 1
    nk-flash "$@" || return 1
    echo "$*" >/tmp/nk-device
    rm -rf /mnt/ramdisk/* /var/lib/cfgvault/*
    echo 0 >/var/lib/cfgvault/flashstatus
    nk_log_sync && : >"$NK_LOG"
    echo >"$NK_TRACE"
}

# The blocks erased since the trace was last emptied, one a line.
nk_trace_erases() {
    sed -n 's/.* nkerase: .* block=\([0-9]*\).*/\1/p' "$NK_TRACE"
}

nk_erased() {
    nk_trace_erases | tr '\n' ' ' | nk_runs
    echo >"$NK_TRACE"
}

nk_bad() {
    mtdprobe bad /dev/mtd0 | tr '\n' ' ' | nk_runs
}

nk_ecc() {
    mtdprobe ecc /dev/mtd0 | awk '{ print "corrected " $1 " failed " $2 }'
}

# Raw bytes (no ECC: the counters stay), bad blocks as they read; nanddump starts on a page.
nk_dump() {
    iFrom=$(($1 / 2048 * 2048))
    nanddump -q --noecc --bb=dumpbad -s "$iFrom" -l $(($1 - iFrom + $2)) /dev/mtd0 |
        tail -c +$(($1 - iFrom + 1)) | head -c $(($2))
}

nk_flip() {
    mtdprobe clearbits /dev/mtd0 "$1" "$2"
}

# "facility.priority tag: message", as the simulator's log holds them: the time and the host
# name go, the marks of nk_log_sync too; a line of another form shows whole.
nk_syslog() {
    nk_log_sync || return 1
    sed -e '/ nk-mark: sync$/d' -e 's/^[A-Z][a-z][a-z] [ 0-9][0-9] [0-9:]\{8\} [^ ]* //' "$NK_LOG"
    : >"$NK_LOG"
}

nk_flashstatus() {
    cat /var/lib/cfgvault/flashstatus
}

nk_facts() {
    mtdprobe facts /dev/mtd0 "/dev/mtd$1" "$2" "$3"
}

# nk_events 0|1 KPROBE...: turns the kprobes' trace events (tools/kernel/guest/init) off or on.
nk_events() {
    sOn=$1
    shift
    for sEvent; do echo "$sOn" >"/sys/kernel/tracing/events/kprobes/$sEvent/enable" || return 1; done
}

nk_short() {
    echo "$2" >"/sys/module/mtdfault/parameters/short_$1"
}

nk_fail() {
    echo "$2" >"/sys/module/mtdfault/parameters/$1_fail"
}

# A copy of /proc/mtd bound over it.
nk_table() {
    grep -qs ' /proc/mtd ' /proc/mounts || { cp /proc/mtd /tmp/nk-table && mount --bind /tmp/nk-table /proc/mtd; } ||
        return 1
    echo /tmp/nk-table
}

# True when the trace buffer holds no event (a shell loop: a run of nk_sweep that left the chip
# alone costs no process).
nk_trace_empty() {
    for sStats in /sys/kernel/tracing/per_cpu/cpu*/stats; do
        while read -r sKey sValue; do
            [ "$sKey" != entries: ] || [ "$sValue" = 0 ] || return 1
        done <"$sStats"
    done
}

# Puts the chip back after a run of nk_sweep that erased, wrote or marked a block (see there).
nk_sweep_restore() {
    sBlocks=$(awk -v e="$1" '/ nkerase: / { sub(/.* block=/, ""); b[$1] }
        / nkprogram: / { sub(/.* to=/, ""); b[int($1 / e)]; b[int($1 / e) + 1] }
        / nkmarkbad: / { bad = 1 } END { if (bad) print "marked"; for (i in b) print i }' "$NK_TRACE")
    if [ "${sBlocks%%[!a-z]*}" = marked ]; then
        # shellcheck disable=SC2046
        nk-flash $(cat /tmp/nk-device) && sBlocks=saved && mtdprobe markbad /dev/mtd0 $(cat sweep.bad) ||
            { echo "nk_sweep: cannot load the chip again"; return 1; }
    fi
    # shellcheck disable=SC2086
    mtdprobe restore /dev/mtd0 sweep.img $sBlocks && rm -rf /mnt/ramdisk/* /var/lib/cfgvault/* &&
        cp -a sweep.ram/. /mnt/ramdisk && cp -a sweep.store/. /var/lib/cfgvault ||
        { echo "nk_sweep: cannot put the device back"; return 1; }
}

# nk_sweep (lib.sh): the mtdfault module fails the call. A run that erased or wrote to the chip
# (nkerase and nkprogram in the trace; a write call covers at most the block after the one it
# starts in) has those blocks erased and programmed raw from a copy taken first (mtdprobe save),
# and the RAM disk and the parameter store copied back; a run that left the chip alone changed
# neither. A run that marked a block bad (nkmarkbad) has the chip loaded again as nk_device
# loaded it, the copy programmed back and the blocks bad before marked again: nandsim's counts of
# erases and programs of weak blocks and pages start again there (the erases of putting back
# count too).
nk_sweep() {
    sKind=$1
    sParam=/sys/module/mtdfault/parameters/${sKind%-fail}_fail
    shift
    iEraseSize=$(cat /sys/class/mtd/mtd0/erasesize)
    nk_log_sync && cp "$NK_LOG" sweep.log &&
        nk_trace_erases >sweep.erased &&
        mtdprobe save /dev/mtd0 sweep.img && mtdprobe bad /dev/mtd0 >sweep.bad &&
        rm -rf sweep.ram sweep.store && cp -a /mnt/ramdisk sweep.ram &&
        cp -a /var/lib/cfgvault sweep.store && nk_events 1 nkprogram nkmarkbad || return 1
    iRead=1
    : >sweep.runs
    while echo >"$NK_TRACE" && nk_fail "${sKind%-fail}" "$iRead"; do
        "$@" >>sweep.runs 2>&1
        iStatus=$?
        read -r iLeft <"$sParam"
        echo 0 >"$sParam"
        nk_trace_empty || nk_sweep_restore "$iEraseSize" || break
        [ "$iLeft" = 0 ] || break
        echo "@@run $iStatus" >>sweep.runs
        iRead=$((iRead + 1))
    done
    nk_sweep_report "$sKind" sweep.runs | nk_tally_runs
    nk_events 0 nkprogram nkmarkbad
    echo >"$NK_TRACE"
    while read -r iBlock; do echo "nkerase: (before the sweep) block=$iBlock"; done <sweep.erased \
        >/sys/kernel/tracing/trace_marker
    nk_log_sync && cat sweep.log >"$NK_LOG"
}
