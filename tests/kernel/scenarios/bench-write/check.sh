# Every timed run succeeded and left the right bytes; the figures are printed and kept in
# bench.txt. Times are a benchmark: only correctness can fail the check.
iRuns=5
sRegionBlocks=$(nk_blocks 0x1500000 0x3500000)
for i in $(seq 1 "$iRuns"); do
    for sTag in changed-tool-$i changed-mtd-$i same-tool-$i same-mtd-$i; do
        nk_expect_status "$sTag" 0
        nk_expect_out_empty "$sTag"
        nk_expect_err_empty "$sTag"
    done
    # A changed image erases the whole region once; the same image erases nothing.
    printf '%s\n' "$sRegionBlocks" | nk_expect_erase_list "changed-tool-$i"
    printf '%s\n' "$sRegionBlocks" | nk_expect_erase_list "changed-mtd-$i"
    [ ! -s "same-tool-$i.erases" ] || nk_fail "same-tool-$i erased blocks with the image already there"
done
nk_expect_same "$NK_IN/b.bin" changed.dump "rootfs 0 region after the last changed write"
nk_expect_same "$NK_IN/b.bin" same.dump "rootfs 0 region after the unchanged writes"
nk_expect_status upgrade 0
nk_expect_out_empty upgrade
nk_expect_err_empty upgrade

# nk_median PREFIX: the median time, in seconds, of the runs whose tag starts with PREFIX-.
nk_median() {
    awk -v p="$1-" 'index($1, p) == 1 { print $2 }' times.txt | sort -n |
        awk '{ a[NR] = $1 } END { if (NR) printf "%.2f\n", (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2) / 100 }'
}
nk_ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f\n", a / b; else print "n/a" }'
}
nk_max_rss() {
    local sFile iMax=0 iRss
    for sFile in "$@"; do
        [ -f "$sFile" ] || continue
        iRss=$(tail -n1 "$sFile")
        [ "$iRss" -gt "$iMax" ] && iMax=$iRss
    done
    echo "$iMax"
}
if [ -f times.txt ]; then
    fChangedTool=$(nk_median changed-tool)
    fChangedMtd=$(nk_median changed-mtd)
    fSameTool=$(nk_median same-tool)
    fSameMtd=$(nk_median same-mtd)
    {
        echo "bench-write: 32 MiB into rootfs 0 (0x1500000, 256 blocks), medians of $iRuns runs"
        echo "  changed image: write ${fChangedTool} s, mtd-utils ${fChangedMtd} s (nanddump + flash_erase + nandwrite + nanddump), ratio $(nk_ratio "$fChangedTool" "$fChangedMtd")"
        echo "  same image:    write ${fSameTool} s, mtd-utils ${fSameMtd} s (nanddump), ratio $(nk_ratio "$fSameTool" "$fSameMtd")"
        echo "  peak RSS: upgradeFW $(nk_max_rss upgrade.rss) KiB, write $(nk_max_rss changed-tool-*.rss same-tool-*.rss) KiB"
    } >bench.txt
    sed 's/^/      /' bench.txt
else
    nk_fail "no times recorded"
fi
