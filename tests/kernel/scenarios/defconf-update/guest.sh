# After an upgrade: the default configuration checked, read and replaced, the DTB and the
# bootstrap updated, the boot loader updated with the file it already holds.
#@ geometry 128
#@ timeout 300
nk_run upgrade nandkeep upgradeFW "$NK_IN/boot.bin" "$NK_IN/kernel.img" "$NK_IN/dtb.img" \
    "$NK_IN/rootfs.img" "$NK_IN/defconf.txt"
nk_run checkdefconf nandkeep checkdefconf
nk_run readdefconf nandkeep readdefconf "$NK_OUT/defconf.back"
nk_run writedefconf nandkeep writedefconf "$NK_IN/defconf2.txt"
nk_run readdefconf2 nandkeep readdefconf "$NK_OUT/defconf2.back"
nk_run updateDTB nandkeep updateDTB "$NK_IN/dtb2.img"
nk_run updateBoot nandkeep updateBoot "$NK_IN/boot.bin"
nk_run updateBst nandkeep updateBst "$NK_IN/bst.bin"
nk_dump bst.dump 0x0 0x20000 padbad
nk_dump boot.dump 0x20000 0x140000 padbad
nk_dump kernel0.dump 0x300000 0x900000 padbad
nk_dump kernel1.dump 0xC00000 0x900000 padbad
nk_dump rootfs0.dump 0x1500000 0x2000000 padbad
nk_dump rootfs1.dump 0x3500000 0x2000000 padbad
