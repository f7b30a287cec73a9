# A full upgrade onto erased flash, every region dumped; then the same upgrade again.
#@ geometry 128 256
#@ timeout 300
nk_firmware() {
    nk_run "$1" nandkeep upgradeFW "$NK_IN/boot.bin" "$NK_IN/kernel.img" "$NK_IN/dtb.img" \
        "$NK_IN/rootfs.img" "$NK_IN/defconf.txt"
}
nk_firmware first
nk_dump boot.dump 0x20000 0x140000 padbad
nk_dump kernel0.dump 0x300000 0x900000 padbad
nk_dump kernel1.dump 0xC00000 0x900000 padbad
nk_dump rootfs0.dump 0x1500000 0x2000000 padbad
nk_dump rootfs1.dump 0x3500000 0x2000000 padbad
nk_firmware again
nk_dump rootfs0.again.dump 0x1500000 0x2000000 padbad
nk_dump rootfs1.again.dump 0x3500000 0x2000000 padbad
