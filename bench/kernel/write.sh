# Benchmark on the real kernel (a guest script: tools/kernel/run.sh --bench write). nandkeep's
# write of a 32 MiB image into rootfs 0 (0x1500000, 256 blocks of the 128 MiB chip) against
# mtd-utils doing the same I/O, for a changed image (two images alternate) and an unchanged one,
# 5 runs each, timed with /proc/uptime; then the peak RSS of write and of a full upgradeFW.
# Prints the medians and ratios; fails only on a wrong status, output, erase list or bytes.
. "$TESTDIR/lib.sh"
iRuns=5
nk_device 128
head -c $((0x2000000)) /dev/urandom >a.bin
head -c $((0x2000000)) /dev/urandom >b.bin
iBad=0

# Monotonic time in centiseconds.
nk_now() {
    read -r sUp _ </proc/uptime
    echo $((${sUp%.*} * 100 + 1${sUp#*.} - 100))
}

# nk_bench TAG ERASED COMMAND [ARGS...]: runs the command timed ("TAG CENTISECONDS" into
# times.txt); it must succeed silently and erase exactly ERASED (nk_erased's words).
nk_bench() {
    sTag=$1 sWant=$2
    shift 2
    iFrom=$(nk_now)
    sOut=$("$@" 2>&1) || sOut="$sOut [status $?]"
    echo "$sTag $(($(nk_now) - iFrom))" >>times.txt
    sErased=$(nk_erased)
    if [ -n "$sOut" ] || [ "$sErased" != "$sWant" ]; then
        echo "$sTag: printed '$sOut', erased '$sErased' (wanted '$sWant')"
        iBad=$((iBad + 1))
    fi
}

nk_tool() {
    busybox time -f %M -o "$1.rss" nandkeep write "$2" 1500000 2000000
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
while [ "$i" -le "$iRuns" ]; do
    if [ $((i % 2)) -eq 1 ]; then
        nk_bench changed-mtd 168-423 nk_mtd_changed a.bin
        nk_bench changed-tool 168-423 nk_tool changed-tool-$i b.bin
    else
        nk_bench changed-tool 168-423 nk_tool changed-tool-$i a.bin
        nk_bench changed-mtd 168-423 nk_mtd_changed b.bin
    fi
    i=$((i + 1))
done
[ "$(nk_same 0x1500000 b.bin)" = same ] || { echo "rootfs 0 does not hold b.bin"; iBad=$((iBad + 1)); }
i=1
while [ "$i" -le "$iRuns" ]; do
    nk_bench same-tool "" nk_tool same-tool-$i b.bin
    nk_bench same-mtd "" nk_mtd_same
    i=$((i + 1))
done
[ "$(nk_same 0x1500000 b.bin)" = same ] || { echo "rootfs 0 lost b.bin"; iBad=$((iBad + 1)); }
sOut=$(busybox time -f %M -o upgrade.rss nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" \
    "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" 2>&1) || sOut="$sOut [status $?]"
[ -z "$sOut" ] || { echo "upgradeFW: $sOut"; iBad=$((iBad + 1)); }

median() { # TAG: seconds
    awk -v t="$1" '$1 == t { print $2 }' times.txt | sort -n |
        awk '{ a[NR] = $1 } END { printf "%.2f", (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2) / 100 }'
}
ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'
}
peak() { # FILES: the largest last line, KiB
    for f in "$@"; do tail -n1 "$f"; done | sort -n | tail -n1
}
echo "write of 32 MiB into rootfs 0 on $(uname -m), medians of $iRuns runs:"
echo "  changed image: nandkeep $(median changed-tool) s, mtd-utils $(median changed-mtd) s" \
    "(nanddump + flash_erase + nandwrite + nanddump), ratio $(ratio "$(median changed-tool)" "$(median changed-mtd)")"
echo "  same image:    nandkeep $(median same-tool) s, mtd-utils $(median same-mtd) s (nanddump)," \
    "ratio $(ratio "$(median same-tool)" "$(median same-mtd)")"
echo "  peak RSS: upgradeFW $(peak upgrade.rss) KiB, write $(peak changed-tool-*.rss same-tool-*.rss) KiB"
[ "$iBad" -eq 0 ]
