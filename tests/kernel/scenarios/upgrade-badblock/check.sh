# Kernel 1 is laid around the bad block, and its DTB starts one block further than kernel 0's.
nk_expect_status upgrade 0
nk_expect_out_empty upgrade
nk_expect_err_empty upgrade
sExpect=$(mktemp -d)
nk_region "$sExpect/kernel0" $((0x900000)) "$NK_IN/kernel.img" "$NK_IN/dtb.img"
{
    head -c $((0x80000)) "$NK_IN/kernel.img"
    nk_ff $((0x20000))
    tail -c +$((0x80001)) "$NK_IN/kernel.img"
} >"$sExpect/kernel1.image"
nk_region "$sExpect/kernel1" $((0x900000)) "$sExpect/kernel1.image" "$NK_IN/dtb.img"
nk_expect_same "$sExpect/kernel0" kernel0.dump "kernel 0 region"
nk_expect_same "$sExpect/kernel1" kernel1.dump "kernel 1 region around the bad block"
iKernel0Sub=$((0x300000 + $(nk_sub_offset "$NK_IN/kernel.img")))
iKernel1Sub=$((0xC00000 + $(nk_sub_offset "$sExpect/kernel1.image")))
[ $((iKernel1Sub - 0xC00000)) -eq $((iKernel0Sub - 0x300000 + 0x20000)) ] ||
    nk_fail "kernel 1's DTB is not one block further than kernel 0's"
# The region erases step over the bad block; everything else is as on a chip without it.
iRootfsSub=$(nk_sub_offset "$NK_IN/rootfs.img")
{
    nk_blocks 0x20000 0x160000
    nk_blocks 0x3500000 0x5500000
    nk_blocks $((0x3500000 + iRootfsSub)) 0x5500000
    nk_blocks 0xC00000 0x1500000 | grep -vx 100
    nk_blocks "$iKernel1Sub" 0x1500000
    nk_blocks 0x300000 0xC00000
    nk_blocks "$iKernel0Sub" 0xC00000
    nk_blocks 0x1500000 0x3500000
    nk_blocks $((0x1500000 + iRootfsSub)) 0x3500000
} | nk_expect_erase_list upgrade
rm -rf "$sExpect"
