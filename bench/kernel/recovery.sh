# Benchmark on the real kernel (a guest script: tools/kernel/run.sh --bench recovery). The
# boot-time check on a healthy 128 MiB device: after an upgrade with a 3 MiB kernel (+ DTB) and a
# 12 MiB root file system (+ default configuration), systemRecovery, systemRecovery 1 and
# systemRecovery 3, 5 runs each. For each: the NAND pages read (a kprobe on the raw NAND layer's
# page read, counted in kprobe_profile), against the pages of the ranges it must look at (both
# copies of each main image up to its length and of its sub-image); its time against dd reading
# the same ranges in 128 KiB blocks. Then the peak resident set (VmHWM, polled until the process
# exits) of each command, upgradeFW (to another set, then the same set again) and write included.
# Prints medians; fails on a wrong status, output or erase list, and when a recovery reads more
# than 1.05 x the pages of the ranges (a count, not a time).
. "$TESTDIR/lib.sh"
iRuns=5
iBad=0
nk_device 128

# Images in the mkimage layout, made here: the busybox gzip trailer carries the CRC-32.
nk_crc() {
    gzip -c "$1" | tail -c 8 | head -c 4 | od -An -tu4 | tr -d ' '
}
nk_be32() {
    printf "\\$(printf %03o $((($1 >> 24) & 255)))\\$(printf %03o $((($1 >> 16) & 255)))"
    printf "\\$(printf %03o $((($1 >> 8) & 255)))\\$(printf %03o $(($1 & 255)))"
}
nk_mkimg() { # DATA OUT
    iSize=$(wc -c <"$1")
    iDcrc=$(nk_crc "$1")
    nk_head() { # HCRC
        printf '\047\005\031\126'
        nk_be32 "$1"
        nk_be32 0
        nk_be32 "$iSize"
        nk_be32 $((0x80000))
        nk_be32 $((0x80000))
        nk_be32 "$iDcrc"
        printf '\005\026\002\000'
        head -c 32 /dev/zero
    }
    nk_head 0 >head.bin
    nk_head "$(nk_crc head.bin)" >"$2"
    cat "$1" >>"$2"
}
head -c $((3 << 20)) /dev/urandom >kernel.raw
head -c $((12 << 20)) /dev/urandom >rootfs.raw
nk_mkimg kernel.raw kernel.img
nk_mkimg rootfs.raw rootfs.img
rm -f kernel.raw rootfs.raw

nk_now() { # monotonic time in centiseconds
    read -r sUp _ </proc/uptime
    echo $((${sUp%.*} * 100 + 1${sUp#*.} - 100))
}

# Page reads: a kprobe on the raw NAND core's page read. Its filter drops every event, so the
# trace buffer (the erase list) stays as it is; the hit count still counts every call.
sTracing=/sys/kernel/tracing
case $(uname -m) in
x86_64) sPageArg=%si ;;
aarch64) sPageArg=%x1 ;;
arm*) sPageArg=%r1 ;;
*) echo "no page argument register known for $(uname -m)"; exit 1 ;;
esac
echo "p:nkread nand_read_page_op page=$sPageArg:u32" >>"$sTracing/kprobe_events"
echo 'page == 4294967295' >"$sTracing/events/kprobes/nkread/filter"
echo 1 >"$sTracing/events/kprobes/nkread/enable"
nk_reads() {
    awk '$1 == "nkread" { print $2 }' "$sTracing/kprobe_profile"
}
iFrom=$(nk_reads)
dd if=/dev/mtd0 of=/dev/null bs=128k skip=1 count=1 2>/dev/null
iPages=$(($(nk_reads) - iFrom))
[ "$iPages" -eq 64 ] || { echo "the probe counts $iPages page reads for one 128 KiB block"; exit 1; }

sOut=$(nandkeep upgradeFW "$IN/A.boot" kernel.img "$IN/A.dtb" rootfs.img "$IN/A.defconf" 2>&1) ||
    sOut="$sOut [status $?]"
[ -z "$sOut" ] || { echo "upgradeFW: $sOut"; exit 1; }
nk_erased >/dev/null

# The ranges: per region its main image and the sub-image behind it (at the next 128 KiB
# boundary after the image's end), as 128 KiB blocks for dd and as pages for the count.
iKernelLen=$(($(wc -c <kernel.img)))
iRootfsLen=$(($(wc -c <rootfs.img)))
iDtbLen=$(($(wc -c <"$IN/A.dtb")))
iDefLen=$(($(wc -c <"$IN/A.defconf") + 8))
pages() { echo $((($1 + 2047) / 2048)); }
iRangePages=$((2 * ($(pages $iKernelLen) + $(pages $iDtbLen) + $(pages $iRootfsLen) + $(pages $iDefLen))))
nk_dd_region() { # OFFSET IMAGE-LENGTH SUB-LENGTH
    iEnd=$(($1 + $2))
    iSub=$((iEnd - iEnd % 0x20000 + 0x20000))
    dd if=/dev/mtd0 of=/dev/null bs=128k skip=$(($1 / 0x20000)) count=$((($2 + 0x1FFFF) / 0x20000)) 2>/dev/null
    dd if=/dev/mtd0 of=/dev/null bs=128k skip=$((iSub / 0x20000)) count=$((($3 + 0x1FFFF) / 0x20000)) 2>/dev/null
}
nk_dd() {
    nk_dd_region $((0x300000)) "$iKernelLen" "$iDtbLen"
    nk_dd_region $((0xC00000)) "$iKernelLen" "$iDtbLen"
    nk_dd_region $((0x1500000)) "$iRootfsLen" "$iDefLen"
    nk_dd_region $((0x3500000)) "$iRootfsLen" "$iDefLen"
}

# nk_run TAG COMMAND...: timed, pages counted ("TAG CENTISECONDS PAGES" into runs.txt); it must
# print "recovered image" and nothing else, exit 0 and erase nothing.
nk_run() {
    sTag=$1
    shift
    iReads=$(nk_reads)
    iFrom=$(nk_now)
    sOut=$("$@" 2>&1) || sOut="$sOut [status $?]"
    echo "$sTag $(($(nk_now) - iFrom)) $(($(nk_reads) - iReads))" >>runs.txt
    sErased=$(nk_erased)
    if [ "$sOut" != "recovered image" ] || [ -n "$sErased" ]; then
        echo "$sTag: printed '$sOut', erased '$sErased'"
        iBad=$((iBad + 1))
    fi
}
nk_dd_run() {
    iReads=$(nk_reads)
    iFrom=$(nk_now)
    nk_dd
    echo "dd $(($(nk_now) - iFrom)) $(($(nk_reads) - iReads))" >>runs.txt
}

i=1
while [ "$i" -le "$iRuns" ]; do
    nk_dd_run
    nk_run plain nandkeep systemRecovery
    nk_run fs1 nandkeep systemRecovery 1
    nk_run fs3 nandkeep systemRecovery 3
    i=$((i + 1))
done

# nk_peak TAG COMMAND...: the process's own high-water mark of resident memory (VmHWM, KiB),
# read from /proc until it is gone; its output goes to TAG.out.
nk_peak() {
    sTag=$1
    shift
    "$@" >"$sTag.out" 2>&1 &
    iPid=$!
    iPeak=0
    while [ -r "/proc/$iPid/status" ]; do
        sHwm=
        while read -r sKey sVal _; do
            [ "$sKey" = VmHWM: ] && sHwm=$sVal
        done 2>/dev/null <"/proc/$iPid/status" || true
        [ -z "$sHwm" ] && break
        [ "$sHwm" -gt "$iPeak" ] && iPeak=$sHwm
    done
    wait "$iPid" || echo "$sTag: status $?" >>"$sTag.out"
    echo "$sTag $iPeak" >>peaks.txt
}
i=1
while [ "$i" -le 3 ]; do
    nk_peak plain nandkeep systemRecovery
    nk_peak fs1 nandkeep systemRecovery 1
    nk_peak fs3 nandkeep systemRecovery 3
    i=$((i + 1))
done
# upgradeFW to another set (everything erased and written), then the same set again (compared).
for sTag in upgrade-new upgrade-same; do
    nk_peak $sTag nandkeep upgradeFW "$IN/B.boot" "$IN/B.kernel" "$IN/B.dtb" "$IN/B.rootfs" "$IN/B.defconf"
    [ ! -s $sTag.out ] || { echo "$sTag: $(cat $sTag.out)"; iBad=$((iBad + 1)); }
done
nk_peak write nandkeep write kernel.img 1500000 2000000
[ ! -s write.out ] || { echo "write: $(cat write.out)"; iBad=$((iBad + 1)); }
echo 0 >"$sTracing/events/kprobes/nkread/enable"
echo "-:nkread" >>"$sTracing/kprobe_events"

median() { # TAG FIELD
    awk -v t="$1" -v f="$2" '$1 == t { print $f }' runs.txt | sort -n |
        awk '{ a[NR] = $1 } END { print (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2) }'
}
peak() { # TAG: MiB, one decimal, the largest of its runs (and KiB)
    awk -v t="$1" '$1 == t && $2 > m { m = $2 } END { printf "%.1f MiB (%d KiB)", m / 1024, m }' peaks.txt
}
iDd=$(median dd 2)
echo "healthy device (kernel $iKernelLen + DTB $iDtbLen, rootfs $iRootfsLen + defconf $iDefLen" \
    "bytes), $(uname -m), medians of $iRuns runs:"
echo "  ranges: $iRangePages pages; dd bs=128k over them: $(median dd 3) pages, $(awk -v a="$iDd" 'BEGIN { printf "%.2f", a / 100 }') s"
for sTag in plain fs1 fs3; do
    case $sTag in plain) sCmd="systemRecovery  " ;; fs1) sCmd="systemRecovery 1" ;; *) sCmd="systemRecovery 3" ;; esac
    iReadPages=$(median $sTag 3)
    iTime=$(median $sTag 2)
    awk -v c="$sCmd" -v p="$iReadPages" -v r="$iRangePages" -v t="$iTime" -v d="$iDd" -v m="$(peak $sTag)" 'BEGIN {
        printf "  %s: %d pages read = %.2f x the ranges; %.2f s = %.2f x dd; peak VmHWM %s\n",
               c, p, p / r, t / 100, (d > 0 ? t / d : 0), m }'
    # The page count does not depend on the machine: each page once, whole 128 KiB pieces.
    if [ $((iReadPages * 100)) -gt $((iRangePages * 105)) ]; then
        echo "  $sCmd reads more than 1.05 x the pages of the ranges"
        iBad=$((iBad + 1))
    fi
done
echo "  peak VmHWM: upgradeFW $(peak upgrade-new) (new set), $(peak upgrade-same) (same set);" \
    "write (changed 3 MiB image) $(peak write)"
[ "$iBad" -eq 0 ]
