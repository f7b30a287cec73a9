# With 1-bit ECC (128 MiB) a corrected read counts as a failing block: the second write retires
# block 681 and lays the image around it. With 4-bit BCH (256 MiB) the corrected read is
# ignored: the image is found in place and nothing is erased.
for sRun in first again; do
    nk_expect_status $sRun 0
    nk_expect_out_empty $sRun
    nk_expect_err_empty $sRun
done
nk_blocks 0x5500000 0x5600000 | nk_expect_erase_list first
read -r iCorrBefore iFailBefore iBadBefore _ <ecc.before
read -r iCorrAfter iFailAfter iBadAfter _ <ecc.after
[ $((iCorrAfter - iCorrBefore)) -eq 1 ] ||
    nk_fail "corrected went from $iCorrBefore to $iCorrAfter, expected one correction"
[ "$iFailAfter" -eq "$iFailBefore" ] || nk_fail "failed went from $iFailBefore to $iFailAfter"
sExpect=$(mktemp)
nk_region "$sExpect" $((0x100000)) "$NK_IN/image.bin"
if [ "$NK_GEOMETRY" = 128 ]; then
    # Marking the block bad erases it first; then the range's good blocks are erased.
    printf '%s\n' 681 680 682 683 684 685 686 687 | nk_expect_erase_list again
    [ $((iBadAfter - iBadBefore)) -eq 1 ] || nk_fail "badblocks went from $iBadBefore to $iBadAfter"
    nk_region "$sExpect" $((0x100000)) "$NK_IN/image.bin"
    nk_expect_same "$sExpect" skip.dump "the range's good blocks"
    {
        head -c $((0x20000)) "$NK_IN/image.bin"
        nk_ff $((0x20000))
        tail -c +$((0x20001)) "$NK_IN/image.bin"
        nk_ff $((0x100000 - 0x90000))
    } >"$sExpect"
    nk_expect_same "$sExpect" pad.dump "the range with the retired block"
else
    nk_expect_erase_list again </dev/null
    [ "$iBadAfter" -eq "$iBadBefore" ] || nk_fail "badblocks went from $iBadBefore to $iBadAfter"
    nk_expect_same "$sExpect" skip.dump "the range"
    nk_expect_same "$sExpect" pad.dump "the range"
fi
nk_expect_no_syslog
rm -f "$sExpect"
