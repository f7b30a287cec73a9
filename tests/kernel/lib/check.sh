# Host-side expectations for scenario checks (sourced by run.sh before a scenario's check.sh).
# A check runs in the scenario's results directory: TAG.out, TAG.err and TAG.status of every
# nk_run, syslog.txt (the system-log lines of the scenario), erases.txt (erased chip blocks in
# order), proc-mtd.txt, standin.log and flashstatus (the stand-in device programs), dmesg.txt
# and whatever the scenario kept. NK_IN is the scenario's input directory, NK_GEOMETRY the boot's
# geometry (128 or 256), NK_TABLE the partition table laid over the chip.
# Every expectation that does not hold is reported and counted; none stops the check. The count
# lives in a file, so expectations also count at the end of a pipeline (a subshell).

NK_FAIL_LOG=$(mktemp)

nk_fail() {
    printf '      FAIL: %s\n' "$*"
    echo x >>"$NK_FAIL_LOG"
}

# The number of expectations that did not hold so far.
nk_fail_count() {
    wc -l <"$NK_FAIL_LOG"
}

# Shows how two files differ, briefly.
nk_show_diff() {
    diff <(od -An -c "$1") <(od -An -c "$2") | head -n 12 | sed 's/^/        /'
}

# nk_expect_same EXPECTED_FILE GOT_FILE LABEL: byte-for-byte equality.
nk_expect_same() {
    if [ ! -f "$2" ]; then
        nk_fail "$3: $2 was not produced"
    elif ! cmp -s "$1" "$2"; then
        nk_fail "$3: bytes differ from the expectation ($(wc -c <"$2") bytes, expected $(wc -c <"$1")); expected vs got:"
        nk_show_diff "$1" "$2"
    fi
}

nk_expect_status() {
    local sGot
    sGot=$(cat "$1.status" 2>/dev/null) || {
        nk_fail "$1: no exit status recorded"
        return
    }
    [ "$sGot" = "$2" ] || nk_fail "$1: exit status $sGot, expected $2"
}

# nk_expect_out TAG / nk_expect_err TAG: the expected bytes on standard input.
nk_expect_out() {
    local sTmp
    sTmp=$(mktemp)
    cat >"$sTmp"
    nk_expect_same "$sTmp" "$1.out" "$1 standard output"
    rm -f "$sTmp"
}

nk_expect_err() {
    local sTmp
    sTmp=$(mktemp)
    cat >"$sTmp"
    nk_expect_same "$sTmp" "$1.err" "$1 standard error"
    rm -f "$sTmp"
}

# nk_expect_out_printf TAG FORMAT [ARGS...]: the expected bytes as printf makes them, for output
# that does not end in a newline.
nk_expect_out_printf() {
    local sTag=$1
    shift
    # shellcheck disable=SC2059
    printf "$@" | nk_expect_out "$sTag"
}

nk_expect_out_empty() {
    [ -f "$1.out" ] && [ ! -s "$1.out" ] || nk_fail "$1: standard output not empty"
}

nk_expect_err_empty() {
    [ -f "$1.err" ] && [ ! -s "$1.err" ] || nk_fail "$1: standard error not empty"
}

# The scenario's system-log lines (or those of command TAG) without time stamp and host:
# "user.err nandkeep: text".
nk_syslog_lines() {
    local sFile=syslog.txt
    [ -n "${1:-}" ] && sFile=$1.syslog
    sed 's/^[A-Z][a-z][a-z] [ 0-9][0-9] [0-9:]\{8\} [^ ]* //' "$sFile"
}

# nk_expect_syslog [TAG]: the expected lines of the scenario (or of command TAG), in order, on
# standard input ("user.err nandkeep: ...").
nk_expect_syslog() {
    local sTmp sGot
    sTmp=$(mktemp)
    sGot=$(mktemp)
    cat >"$sTmp"
    nk_syslog_lines "${1:-}" >"$sGot"
    nk_expect_same "$sTmp" "$sGot" "system log${1:+ of $1}"
    rm -f "$sTmp" "$sGot"
}

nk_expect_no_syslog() {
    [ ! -s syslog.txt ] || {
        nk_fail "unexpected system-log lines:"
        sed 's/^/        /' syslog.txt | head -n 10
    }
}

# nk_expect_erases N: the number of block erases the driver performed during the scenario.
nk_expect_erases() {
    local iGot
    iGot=$(wc -l <erases.txt)
    [ "$iGot" -eq "$1" ] || nk_fail "$iGot block erases, expected $1"
}

# nk_expect_erased_blocks BLOCK...: the chip's erase blocks the driver erased, in order.
nk_expect_erased_blocks() {
    local sWant sGot
    sWant=$(printf '%s ' "$@")
    sGot=$(tr '\n' ' ' <erases.txt)
    [ "$sGot" = "$sWant" ] || nk_fail "erased blocks '$sGot', expected '$sWant'"
}

# nk_expect_erase_list TAG: the blocks that command TAG erased, in order, are those listed one a
# line on standard input (nk_blocks makes such lists).
nk_expect_erase_list() {
    local sTmp
    sTmp=$(mktemp)
    cat >"$sTmp"
    if ! cmp -s "$sTmp" "$1.erases"; then
        nk_fail "$1 erased $(wc -l <"$1.erases") blocks, expected $(wc -l <"$sTmp"); first difference:"
        diff "$sTmp" "$1.erases" | head -n 6 | sed 's/^/        /'
    fi
    rm -f "$sTmp"
}

# nk_blocks FROM TO: the chip's erase block numbers of the byte range [FROM, TO), one a line.
nk_blocks() {
    local i
    for ((i = $1 / 0x20000; i < $2 / 0x20000; i++)); do
        echo "$i"
    done
}

# nk_ff N: N bytes of erased flash.
nk_ff() {
    head -c "$1" /dev/zero | tr '\0' '\377'
}

# nk_le32 N: N as 4 bytes, little-endian.
nk_le32() {
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) \
        $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}

# nk_config_record FILE: the configuration record that stores FILE (length word, payload,
# CRC-32 of the payload, both little-endian, 0xFF up to a multiple of 4). gzip's trailer holds
# the CRC-32 little-endian.
nk_config_record() {
    local iSize
    iSize=$(wc -c <"$1")
    nk_le32 "$iSize"
    cat "$1"
    gzip -c <"$1" | tail -c 8 | head -c 4
    nk_ff $(((4 - (iSize + 8) % 4) % 4))
}

# nk_sub_offset IMAGE: where the item behind an image starts, relative to its region (the first
# 128 KiB boundary strictly after the image's last byte; no bad block in the region).
nk_sub_offset() {
    echo $(($(wc -c <"$1") / 0x20000 * 0x20000 + 0x20000))
}

# nk_region OUT LENGTH IMAGE [SUB]: the expected bytes of a freshly written region: the image,
# the sub-image (a file or a record already built) at its offset, erased bytes elsewhere.
nk_region() {
    local iLen=$2 iUsed
    cat "$3" >"$1"
    if [ -n "${4:-}" ]; then
        nk_ff $(($(nk_sub_offset "$3") - $(wc -c <"$3"))) >>"$1"
        cat "$4" >>"$1"
    fi
    iUsed=$(wc -c <"$1")
    nk_ff $((iLen - iUsed)) >>"$1"
}

# nk_expect_proc_mtd: the kernel showed exactly the partition table of the geometry.
nk_expect_proc_mtd() {
    local sTmp
    sTmp=$(mktemp)
    nk_table_proc_mtd "$NK_TABLE" >"$sTmp"
    nk_expect_same "$sTmp" proc-mtd.txt "/proc/mtd"
    rm -f "$sTmp"
}

# nk_expect_prefix EXPECTED_FILE GOT_FILE LABEL: GOT_FILE begins with the bytes of EXPECTED_FILE
# (a region dump holding an image).
nk_expect_prefix() {
    local sTmp
    sTmp=$(mktemp)
    head -c "$(wc -c <"$1")" "$2" >"$sTmp" 2>/dev/null
    nk_expect_same "$1" "$sTmp" "$3"
    rm -f "$sTmp"
}
