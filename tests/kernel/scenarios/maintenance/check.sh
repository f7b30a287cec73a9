# What each maintenance command prints and erases, by chip block.
if [ "$NK_GEOMETRY" = 128 ]; then
    iTop=0x8000000 iFlashfs2=0x5D00000 iFlashfs2End=0x7E00000 iFlashfs1End=0x5D00000
else
    iTop=0x10000000 iFlashfs2=0x6500000 iFlashfs2End=0xF800000 iFlashfs1End=0x6500000
fi
nk_without() { # the block list on standard input without the given blocks
    grep -vxF -f <(printf '%s\n' "$@")
}

nk_expect_status report 0
nk_expect_out report <<'OUT'
Find a bad block at offset = 0x3c0000
Find a bad block at offset = 0x5780000
OUT
nk_expect_status layout 0
nk_expect_out_empty layout

nk_expect_status write 0
nk_expect_status ecc 0
nk_expect_out ecc <<'OUT'
Current ECC corrected = 0, failed = 0, badblocks = 2, bbtblocks = 0
At 0x3A0000 offset ECC corrected = 0, failed = 0
At 0x3C0000 offset is bad blcok!!(skip)
At 0x3E0000 offset ECC corrected = 1, failed = 0
OUT
nk_expect_erase_list ecc </dev/null

# badBlockRead copies what the device reads, corrected by the ECC.
nk_expect_status read 0
nk_expect_out_empty read
nk_expect_same "$NK_IN/block.bin" block.read "badBlockRead of block 31"

# Marking a block bad: the kernel erases it before it writes the marker.
nk_expect_status setbad 0
nk_expect_out_empty setbad
echo 32 | nk_expect_erase_list setbad
nk_expect_out report2 <<'OUT'
Find a bad block at offset = 0x3c0000
Find a bad block at offset = 0x400000
Find a bad block at offset = 0x5780000
OUT

# erase steps over the bad block; badBlockErase hands the range to the driver, which stops at it.
nk_expect_status erase 0
nk_expect_out_empty erase
printf '%s\n' 29 31 | nk_expect_erase_list erase
nk_expect_status rawerase-bad 255
nk_expect_out_printf rawerase-bad '\n Nandkeep notify -> erase fail\n'
echo 29 | nk_expect_erase_list rawerase-bad
nk_expect_status rawerase 0
nk_expect_out_empty rawerase
echo 31 | nk_expect_erase_list rawerase

# Partition erases go through the partitions' own nodes and skip bad blocks.
for sRun in jffs2 flashfs1 flashfs2 flashfs all; do
    nk_expect_status $sRun 0
    nk_expect_out_empty $sRun
    nk_expect_err_empty $sRun
done
nk_blocks 0x160000 0x300000 | nk_expect_erase_list jffs2
nk_blocks 0x5500000 "$iFlashfs1End" | nk_without 700 | nk_expect_erase_list flashfs1
nk_blocks "$iFlashfs2" "$iFlashfs2End" | nk_expect_erase_list flashfs2
nk_blocks "$iFlashfs2" "$iFlashfs2End" | nk_expect_erase_list flashfs
nk_blocks 0 "$iTop" | nk_without 30 32 700 | nk_expect_erase_list all

# eraseRootfs: flashfs1 erased, written with zeros and compared (the bad block takes the zeros
# and reads them back, so nothing new is marked), then erased again.
nk_expect_status rootfs 0
nk_expect_out_printf rootfs 'g_iPartitionNum = 8, size = %x\n' $((iFlashfs1End - 0x5500000))
{
    nk_blocks 0x5500000 "$iFlashfs1End" | nk_without 700
    nk_blocks 0x5500000 "$iFlashfs1End" | nk_without 700
} | nk_expect_erase_list rootfs
nk_expect_no_syslog
