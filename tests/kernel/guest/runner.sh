# The guest's scenario runner (sourced by init). For each scenario: a fresh nandsim with the
# boot's geometry and the scenario's extra parameters, the partition table, the erase counter
# reset, the scenario script run under a time limit, then its artifacts collected.

NK_TRACE=/sys/kernel/tracing

nk_flash_up() {
    # $1: extra nandsim parameters of the scenario.
    # shellcheck disable=SC2086
    insmod /lib/nk-modules/nandsim.ko $NK_NANDSIM_PARAMS $1 || return 1
    # shellcheck disable=SC2086
    insmod /lib/nk-modules/mtdtable.ko $NK_MTDTABLE_PARAMS || return 1
    local i=0
    while [ "$i" -lt "$NK_PART_COUNT" ]; do
        [ -c "/dev/mtd$i" ] || return 1
        i=$((i + 1))
    done
}

nk_flash_down() {
    rmmod mtdtable
    rmmod nandsim
}

nk_trace_reset() {
    echo 0 >"$NK_TRACE/events/kprobes/nkerase/enable"
    echo >"$NK_TRACE/trace"
    echo 1 >"$NK_TRACE/events/kprobes/nkerase/enable"
}

# Erase block numbers, one a line, in the order the driver erased them.
nk_trace_blocks() {
    sed -n 's/.* nkerase: .* block=\([0-9]*\).*/\1/p' "$NK_TRACE/trace"
}

# Waits until syslogd has written everything logged so far, so the tail is complete.
nk_syslog_sync() {
    local sMark="nk-mark-$1" i=0
    logger -p user.info "$sMark"
    while ! grep -q "$sMark" /var/log/messages; do
        i=$((i + 1))
        [ "$i" -gt 100 ] && return 1
        sleep 0.05
    done
}

nk_meta() {
    # Prints the value of a "#@ key value" header line of the scenario script.
    sed -n "s/^#@ $2 //p" "$1" | head -n1
}

nk_run_scenario() {
    local sName=$1
    local sDir=/mnt/host/scenarios/$sName
    local sOut=/mnt/host/results/$sName
    local sScript=$sDir/guest.sh
    mkdir -p "$sOut"
    echo "NK-SCENARIO-BEGIN $sName"
    local sExtra iLimit
    sExtra=$(nk_meta "$sScript" nandsim)
    iLimit=$(nk_meta "$sScript" timeout)
    [ -n "$iLimit" ] || iLimit=$NK_SCENARIO_TIMEOUT

    dmesg -c >/dev/null
    if ! nk_flash_up "$sExtra"; then
        echo "flash set-up failed" >"$sOut/setup-error.txt"
        dmesg >>"$sOut/setup-error.txt"
        cat /proc/mtd >>"$sOut/setup-error.txt"
        echo "NK-SCENARIO-END $sName setup-failed"
        nk_flash_down 2>/dev/null
        return
    fi
    cat /proc/mtd >"$sOut/proc-mtd.txt"
    rm -rf /var/lib/cfgvault/* /mnt/ramdisk/* /tmp/work /tmp/standin.log
    mkdir -p /tmp/work
    nk_syslog_sync "$sName-begin"
    local iStart
    iStart=$(wc -l </var/log/messages)
    nk_trace_reset

    (
        cd /tmp/work &&
            NK_IN=$sDir/input NK_OUT=$sOut NK_GEOMETRY=$NK_GEOMETRY \
                timeout "$iLimit" sh -eu -c '. /etc/nk/nk.sh; . "$1"' scenario "$sScript"
    ) >"$sOut/scenario.log" 2>&1
    echo $? >"$sOut/scenario.status"

    echo 0 >"$NK_TRACE/events/kprobes/nkerase/enable"
    nk_trace_blocks >"$sOut/erases.txt"
    nk_syslog_sync "$sName-end"
    tail -n +"$((iStart + 1))" /var/log/messages | grep -v ' nk-mark-' >"$sOut/syslog.txt"
    [ -f /tmp/standin.log ] && cp /tmp/standin.log "$sOut/standin.log"
    [ -f /var/lib/cfgvault/flashstatus ] && cp /var/lib/cfgvault/flashstatus "$sOut/flashstatus"
    dmesg -c >"$sOut/dmesg.txt"
    nk_flash_down
    echo "NK-SCENARIO-END $sName $(cat "$sOut/scenario.status")"
}
