# A program failure ends the write with status 255 after the block was marked bad (the kernel
# erases it first); the next write lays the image around it.
nk_expect_status first 255
nk_expect_out_empty first
nk_expect_err_empty first
{
    nk_blocks 0x5500000 0x5600000
    echo 681
} | nk_expect_erase_list first
read -r _ _ iBadBefore _ <ecc.before
read -r _ _ iBadAfter _ <ecc.after
[ $((iBadAfter - iBadBefore)) -eq 1 ] || nk_fail "badblocks went from $iBadBefore to $iBadAfter"
nk_expect_status again 0
nk_expect_out_empty again
nk_expect_err_empty again
nk_blocks 0x5500000 0x5600000 | grep -vx 681 | nk_expect_erase_list again
sExpect=$(mktemp)
{
    head -c $((0x20000)) "$NK_IN/image.bin"
    nk_ff $((0x20000))
    tail -c +$((0x20001)) "$NK_IN/image.bin"
    nk_ff $((0x100000 - 0x90000))
} >"$sExpect"
nk_expect_same "$sExpect" pad.dump "the range with the block that failed to program"
rm -f "$sExpect"
