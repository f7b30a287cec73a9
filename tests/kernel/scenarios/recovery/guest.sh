# After an upgrade: a kernel 0 block overwritten, repaired with FlashStatus 1; the default
# configuration behind rootfs 1 erased, repaired with FlashStatus 3; then nothing to repair.
#@ geometry 128
#@ timeout 300
nk_run upgrade nandkeep upgradeFW "$NK_IN/boot.bin" "$NK_IN/kernel.img" "$NK_IN/dtb.img" \
    "$NK_IN/rootfs.img" "$NK_IN/defconf.txt"

flash_erase -q /dev/mtd0 0x340000 1
nandwrite -q -s 0x340000 /dev/mtd0 "$NK_IN/garbage.bin"
nk_run status1 nandkeep systemRecovery 1
nk_dump kernel0.dump 0x300000 0x900000 padbad

iRootfs1Sub=$(((0x3500000 + $(wc -c <"$NK_IN/rootfs.img")) / 0x20000 * 0x20000 + 0x20000))
flash_erase -q /dev/mtd0 "$iRootfs1Sub" 1
nk_run status3 nandkeep systemRecovery 3
nk_dump rootfs1.dump 0x3500000 0x2000000 padbad

nk_run plain nandkeep systemRecovery
