# Each repair rewrites only what differs from the valid twin, and the repaired region is
# byte for byte the twin's.
nk_expect_status upgrade 0
sExpect=$(mktemp -d)
nk_config_record "$NK_IN/defconf.txt" >"$sExpect/defconf.rec"
nk_region "$sExpect/kernel" $((0x900000)) "$NK_IN/kernel.img" "$NK_IN/dtb.img"
nk_region "$sExpect/rootfs" $((0x2000000)) "$NK_IN/rootfs.img" "$sExpect/defconf.rec"
iKernelSub=$(nk_sub_offset "$NK_IN/kernel.img")
iRootfsSub=$(nk_sub_offset "$NK_IN/rootfs.img")

for sRun in status1 status3 plain; do
    nk_expect_status $sRun 0
    nk_expect_out $sRun <<<"recovered image"
    nk_expect_err_empty $sRun
done

# FlashStatus 1: kernel 0 differs from kernel 1, so its region is erased and copied, then its
# DTB; rootfs 0 already equals rootfs 1. Each difference found is logged.
{
    nk_blocks 0x300000 0xC00000
    nk_blocks $((0x300000 + iKernelSub)) 0xC00000
} | nk_expect_erase_list status1
nk_expect_same "$sExpect/kernel" kernel0.dump "kernel 0 region after the repair"
nk_expect_syslog status1 <<'LOG'
user.err nandkeep: NANDKEEP ERROR! Compare image fail!
user.err nandkeep: NANDKEEP ERROR! Compare image fail!
LOG

# FlashStatus 3: the images agree; only the default configuration record behind rootfs 1 is
# rewritten from rootfs 0's.
nk_blocks $((0x3500000 + iRootfsSub)) 0x5500000 | nk_expect_erase_list status3
nk_expect_same "$sExpect/rootfs" rootfs1.dump "rootfs 1 region after the repair"
nk_expect_syslog status3 <<'LOG'
user.err nandkeep: NANDKEEP ERROR! Compare image fail!
LOG

# Everything agrees: nothing is erased or logged.
nk_expect_erase_list plain </dev/null
nk_expect_syslog plain </dev/null
rm -rf "$sExpect"
