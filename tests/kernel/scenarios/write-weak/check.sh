# The block that failed to erase is marked bad and stepped over: the image lies in blocks 680,
# 682, 683 and 684, and the write succeeds.
nk_expect_status write 0
nk_expect_out_printf write 'find a bad block'
nk_expect_err_empty write
# The kernel tries the failing block once more before it writes the bad-block marker.
printf '%s\n' 680 681 681 682 683 684 685 686 687 | nk_expect_erase_list write
read -r _ _ iBadBefore _ <ecc.before
read -r _ _ iBadAfter _ <ecc.after
[ $((iBadAfter - iBadBefore)) -eq 1 ] || nk_fail "badblocks went from $iBadBefore to $iBadAfter"
sExpect=$(mktemp)
nk_region "$sExpect" $((0x100000)) "$NK_IN/image.bin"
nk_expect_same "$sExpect" skip.dump "the range's good blocks"
{
    head -c $((0x20000)) "$NK_IN/image.bin"
    nk_ff $((0x20000))
    tail -c +$((0x20001)) "$NK_IN/image.bin"
    nk_ff $((0x100000 - 0x90000))
} >"$sExpect"
nk_expect_same "$sExpect" pad.dump "the range with the bad block"
nk_expect_no_syslog
rm -f "$sExpect"
