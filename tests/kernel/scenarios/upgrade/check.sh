# Every region holds exactly what it was given, with the sub-images at the next 128 KiB
# boundary and erased bytes elsewhere; backups first, flashstatus set between the two halves.
sExpect=$(mktemp -d)
nk_config_record "$NK_IN/defconf.txt" >"$sExpect/defconf.rec"
nk_region "$sExpect/boot" $((0x140000)) "$NK_IN/boot.bin"
nk_region "$sExpect/kernel" $((0x900000)) "$NK_IN/kernel.img" "$NK_IN/dtb.img"
nk_region "$sExpect/rootfs" $((0x2000000)) "$NK_IN/rootfs.img" "$sExpect/defconf.rec"
iKernelSub=$(nk_sub_offset "$NK_IN/kernel.img")
iRootfsSub=$(nk_sub_offset "$NK_IN/rootfs.img")

for sRun in first again; do
    nk_expect_status $sRun 0
    nk_expect_out_empty $sRun
    nk_expect_err_empty $sRun
done
nk_expect_same "$sExpect/boot" boot.dump "Boot region"
nk_expect_same "$sExpect/kernel" kernel0.dump "kernel 0 region"
nk_expect_same "$sExpect/kernel" kernel1.dump "kernel 1 region"
nk_expect_same "$sExpect/rootfs" rootfs0.dump "rootfs 0 region"
nk_expect_same "$sExpect/rootfs" rootfs1.dump "rootfs 1 region"
nk_expect_same "$sExpect/rootfs" rootfs0.again.dump "rootfs 0 region after the second upgrade"
nk_expect_same "$sExpect/rootfs" rootfs1.again.dump "rootfs 1 region after the second upgrade"

# Each region is erased whole before it is written, in the upgrade's order; the sub-image range
# is erased again for the item behind the image.
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
} | nk_expect_erase_list first
# The same files again: the images are found in place and not rewritten; only the default
# configuration records are stored anew.
{
    nk_blocks $((0x3500000 + iRootfsSub)) 0x5500000
    nk_blocks $((0x1500000 + iRootfsSub)) 0x3500000
} | nk_expect_erase_list again

nk_expect_same <(printf 'ovenctl engage\ncfgvault set flashstatus 1\novenctl engage\ncfgvault set flashstatus 1\n') \
    standin.log "calls of the device programs"
nk_expect_same <(printf '1\n') flashstatus "flashstatus"
nk_expect_no_syslog
rm -rf "$sExpect"
