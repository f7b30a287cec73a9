# Helpers for scenario scripts in the guest (sourced before the scenario; runs under set -eu).
# NK_IN: the scenario's input files made on the host; NK_OUT: where results go back to the
# host; NK_GEOMETRY: 128 or 256. The working directory is an empty tmpfs directory.

# Chip erase blocks erased so far in this scenario, in order (the runner's kprobe).
nk_erased_blocks() {
    sed -n 's/.* nkerase: .* block=\([0-9]*\).*/\1/p' /sys/kernel/tracing/trace
}

# nk_run TAG COMMAND [ARGS...]: runs the command, keeping its standard output, standard error,
# exit status, the blocks it erased and its system-log lines as TAG.out, TAG.err, TAG.status,
# TAG.erases and TAG.syslog for the host-side checks.
nk_run() {
    local sTag=$1 iStatus=0 iBefore iLogBefore
    shift
    iBefore=$(nk_erased_blocks | wc -l)
    iLogBefore=$(wc -l </var/log/messages)
    "$@" >"$NK_OUT/$sTag.out" 2>"$NK_OUT/$sTag.err" </dev/null || iStatus=$?
    echo "$iStatus" >"$NK_OUT/$sTag.status"
    nk_erased_blocks | tail -n +"$((iBefore + 1))" >"$NK_OUT/$sTag.erases"
    nk_log_sync "$sTag"
    tail -n +"$((iLogBefore + 1))" /var/log/messages | grep -v ' nk-mark-' >"$NK_OUT/$sTag.syslog" ||
        true
}

# Waits until syslogd has written out everything logged so far.
nk_log_sync() {
    local sMark="nk-mark-$1-$$" i=0
    logger -p user.info "$sMark"
    while ! grep -q -- "$sMark" /var/log/messages; do
        i=$((i + 1))
        [ "$i" -gt 200 ] && return 1
        sleep 0.05
    done
}

# nk_keep FILE [NAME]: copies a file into the results.
nk_keep() {
    cp "$1" "$NK_OUT/${2:-$(basename "$1")}"
}

# nk_mtd_by_name NAME: prints the device node of the partition with that name.
nk_mtd_by_name() {
    sed -n "s/^\(mtd[0-9]*\): .* \"$1\"\$/\/dev\/\1/p" /proc/mtd | head -n1
}

# nk_dump NAME OFFSET LENGTH [BB]: nanddump of the whole chip (/dev/mtd0) from OFFSET into the
# results, without spare areas; BB is nanddump's bad-block method: padbad (bad blocks as 0xFF)
# or skipbad, the default (good blocks back to back, as the writer lays an image around bad
# blocks; LENGTH then counts good bytes, so the dump reaches past OFFSET + LENGTH).
nk_dump() {
    nanddump -q --bb="${4:-skipbad}" -s "$2" -l "$3" -f "$NK_OUT/$1" /dev/mtd0
}

# nk_ecc NAME: keeps the whole chip's ECC counters ("corrected failed badblocks bbtblocks").
nk_ecc() {
    mtdprobe ecc /dev/mtd0 >"$NK_OUT/$1"
}
