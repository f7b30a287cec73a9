# The single-item commands replace exactly their item in both copies, backup first, and leave
# an item that already holds the file alone.
iKernelSub=$(nk_sub_offset "$NK_IN/kernel.img")
iRootfsSub=$(nk_sub_offset "$NK_IN/rootfs.img")
for sRun in upgrade checkdefconf writedefconf updateDTB updateBoot updateBst; do
    nk_expect_status $sRun 0
    nk_expect_out_empty $sRun
    nk_expect_err_empty $sRun
done
for sRun in readdefconf readdefconf2; do
    nk_expect_status $sRun 0
    nk_expect_out $sRun <<<"read Default Value 1"
    nk_expect_err_empty $sRun
done
nk_expect_same "$NK_IN/defconf.txt" defconf.back "default configuration read back"
nk_expect_same "$NK_IN/defconf2.txt" defconf2.back "new default configuration read back"

nk_expect_erase_list checkdefconf </dev/null
nk_expect_erase_list readdefconf </dev/null
{
    nk_blocks $((0x3500000 + iRootfsSub)) 0x5500000
    nk_blocks $((0x1500000 + iRootfsSub)) 0x3500000
} | nk_expect_erase_list writedefconf
{
    nk_blocks $((0xC00000 + iKernelSub)) 0x1500000
    nk_blocks $((0x300000 + iKernelSub)) 0xC00000
} | nk_expect_erase_list updateDTB
nk_expect_erase_list updateBoot </dev/null
echo 0 | nk_expect_erase_list updateBst

sExpect=$(mktemp -d)
nk_config_record "$NK_IN/defconf2.txt" >"$sExpect/defconf2.rec"
nk_region "$sExpect/bst" $((0x20000)) "$NK_IN/bst.bin"
nk_region "$sExpect/boot" $((0x140000)) "$NK_IN/boot.bin"
nk_region "$sExpect/kernel" $((0x900000)) "$NK_IN/kernel.img" "$NK_IN/dtb2.img"
nk_region "$sExpect/rootfs" $((0x2000000)) "$NK_IN/rootfs.img" "$sExpect/defconf2.rec"
nk_expect_same "$sExpect/bst" bst.dump "bootstrap region"
nk_expect_same "$sExpect/boot" boot.dump "Boot region"
for sCopy in 0 1; do
    nk_expect_same "$sExpect/kernel" kernel$sCopy.dump "kernel $sCopy region"
    nk_expect_same "$sExpect/rootfs" rootfs$sCopy.dump "rootfs $sCopy region"
done
nk_expect_no_syslog
rm -rf "$sExpect"
