# The recovery waited (one line on standard error) and the upgrade ran alone: the erases of both
# are exactly the upgrade's, and the normal copies are the upgrade's. The nandkeep run by the
# flashstatus command ran at once, with the whole-device node as its only MTD descriptor (the
# lock), and stored its record.
sExpect=$(mktemp -d)
nk_config_record "$NK_IN/defconf.txt" >"$sExpect/defconf.rec"
nk_region "$sExpect/kernel" $((0x900000)) "$NK_IN/kernel.img" "$NK_IN/dtb.img"
nk_region "$sExpect/rootfs" $((0x2000000)) "$NK_IN/rootfs.img" "$sExpect/defconf.rec"
iKernelSub=$(nk_sub_offset "$NK_IN/kernel.img")
iRootfsSub=$(nk_sub_offset "$NK_IN/rootfs.img")

for sRun in held nested readback; do
    nk_expect_status $sRun 0
    nk_expect_err_empty $sRun
done
nk_expect_out_empty held
nk_expect_out_empty nested
nk_expect_status second 0
nk_expect_out second <<<"recovered image"
nk_expect_err second < <(printf 'nandkeep: waiting for another nandkeep to finish\n')
{
    nk_blocks 0x20000 0x160000
    nk_blocks 0x3500000 0x5500000
    nk_blocks $((0x3500000 + iRootfsSub)) 0x5500000
    nk_blocks 0xC00000 0x1500000
    nk_blocks $((0xC00000 + iKernelSub)) 0x1500000
    nk_blocks 0x300000 0xC00000
    nk_blocks $((0x300000 + iKernelSub)) 0xC00000
    nk_blocks 0x1500000 0x3500000
    nk_blocks $((0x1500000 + iRootfsSub)) 0x3500000
} | nk_expect_erase_list both
nk_expect_same "$sExpect/kernel" kernel0.dump "kernel 0 region"
nk_expect_same "$sExpect/rootfs" rootfs0.dump "rootfs 0 region"

nk_expect_same <(printf '0\n') nested.status "status of the nested nandkeep"
nk_expect_same /dev/null nested.out "output of the nested nandkeep"
nk_expect_same /dev/null nested.err "standard error of the nested nandkeep"
nk_expect_same <(printf '/dev/mtd0\n') nodes.txt "MTD nodes open in the flashstatus command"
nk_expect_same <(printf '/dev/mtd0\n') lockfd.txt "the descriptor NANDKEEP_LOCK_FD names"
nk_expect_same <(printf 'flashstatus=1\n') back.conf "temporary configuration read back"
nk_expect_same <(printf '1\n') flashstatus "flashstatus"
rm -rf "$sExpect"
