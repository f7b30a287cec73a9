# A full upgrade on a chip whose block 100, the fifth block of kernel 1, is bad.
#@ geometry 128
#@ timeout 240
#@ nandsim badblocks=100
nk_run upgrade nandkeep upgradeFW "$NK_IN/boot.bin" "$NK_IN/kernel.img" "$NK_IN/dtb.img" \
    "$NK_IN/rootfs.img" "$NK_IN/defconf.txt"
nk_dump kernel0.dump 0x300000 0x900000 padbad
nk_dump kernel1.dump 0xC00000 0x900000 padbad
