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
    nk-flash "$@" || return 1
    rm -rf /mnt/ramdisk/* /var/lib/cfgvault/*
    echo 0 >/var/lib/cfgvault/flashstatus
    nk_log_sync && : >"$NK_LOG"
    echo >"$NK_TRACE"
}

nk_erased() {
    sed -n 's/.* nkerase: .* block=\([0-9]*\).*/\1/p' "$NK_TRACE" | tr '\n' ' ' | nk_runs
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
