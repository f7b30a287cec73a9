# Timing of write against mtd-utils doing the same I/O, and the peak memory of an upgrade.
#@ geometry 128
#@ timeout 300
# The rootfs 0 region: chip offset 0x1500000, 256 blocks of 128 KiB.
iBenchRuns=5
cp "$NK_IN/a.bin" "$NK_IN/b.bin" .

# Monotonic time in centiseconds.
nk_now() {
    local sUp
    read -r sUp _ </proc/uptime
    echo $((${sUp%.*} * 100 + 1${sUp#*.} - 100))
}

# nk_bench TAG COMMAND [ARGS...]: runs the command timed, keeping its output, error and status
# as nk_run does, the blocks it erased and "TAG CENTISECONDS" in times.txt.
nk_bench() {
    local sTag=$1 iStatus=0 iBefore iStart iEnd
    shift
    iBefore=$(nk_erased_blocks | wc -l)
    iStart=$(nk_now)
    "$@" >"$NK_OUT/$sTag.out" 2>"$NK_OUT/$sTag.err" </dev/null || iStatus=$?
    iEnd=$(nk_now)
    echo "$iStatus" >"$NK_OUT/$sTag.status"
    nk_erased_blocks | tail -n +"$((iBefore + 1))" >"$NK_OUT/$sTag.erases"
    echo "$sTag $((iEnd - iStart))" >>"$NK_OUT/times.txt"
}

# The tool, with its peak resident set size kept as TAG.rss (KiB).
nk_tool() {
    local sTag=$1
    shift
    busybox time -f %M -o "$NK_OUT/$sTag.rss" nandkeep "$@"
}

# What write does for an image that differs from the region: read it to compare, erase it whole,
# program the image, read it back to verify.
nk_mtd_changed() {
    nanddump -q -s 0x1500000 -l 0x2000000 -f /dev/null /dev/mtd0 &&
        flash_erase -q /dev/mtd0 0x1500000 256 &&
        nandwrite -q -p -s 0x1500000 /dev/mtd0 "$1" &&
        nanddump -q -s 0x1500000 -l 0x2000000 -f /dev/null /dev/mtd0
}

# What it does for an image already there: the comparison only.
nk_mtd_same() {
    nanddump -q -s 0x1500000 -l 0x2000000 -f /dev/null /dev/mtd0
}

# Changed images: a and b alternate, so every write finds the other image in the region, and the
# order of the tool and mtd-utils alternates too. The last write is the tool's, of b.
i=1
while [ "$i" -le "$iBenchRuns" ]; do
    if [ $((i % 2)) -eq 1 ]; then
        nk_bench changed-mtd-$i nk_mtd_changed a.bin
        nk_bench changed-tool-$i nk_tool changed-tool-$i write b.bin 1500000 2000000
    else
        nk_bench changed-tool-$i nk_tool changed-tool-$i write a.bin 1500000 2000000
        nk_bench changed-mtd-$i nk_mtd_changed b.bin
    fi
    i=$((i + 1))
done
nk_dump changed.dump 0x1500000 0x2000000 padbad

# The same image again: b stays in the region.
i=1
while [ "$i" -le "$iBenchRuns" ]; do
    nk_bench same-tool-$i nk_tool same-tool-$i write b.bin 1500000 2000000
    nk_bench same-mtd-$i nk_mtd_same
    i=$((i + 1))
done
nk_dump same.dump 0x1500000 0x2000000 padbad

# Peak memory of a full upgrade.
nk_run upgrade busybox time -f %M -o "$NK_OUT/upgrade.rss" nandkeep upgradeFW \
    "$NK_IN/boot.bin" "$NK_IN/kernel.img" "$NK_IN/dtb.img" "$NK_IN/rootfs.img" \
    "$NK_IN/defconf.txt"
