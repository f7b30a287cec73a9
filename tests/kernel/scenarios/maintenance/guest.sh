# The raw maintenance commands on a chip with bad blocks 30 (inside kernel 0) and 700 (inside
# flashfs1).
#@ geometry 128 256
#@ timeout 240
#@ nandsim badblocks=30,700
nk_run report nandkeep badBlockReport
nk_run layout nandkeep flashfs2IsChange
# Block 31 gets data, then one flipped bit; eccStatus reads blocks 29 to 31.
nk_run write nandkeep write "$NK_IN/block.bin" 3E0000 20000
mtdprobe clearbits /dev/mtd0 $((0x3E0000 + 0x1000)) 1
nk_run ecc nandkeep eccStatus 3A0000 60000
nk_run read nandkeep badBlockRead "$NK_OUT/block.read" 3E0000 20000
nk_run setbad nandkeep setBadBlockToBBT 400000
nk_run report2 nandkeep badBlockReport
nk_run erase nandkeep erase 3A0000 60000
nk_run rawerase-bad nandkeep badBlockErase 3A0000 60000
nk_run rawerase nandkeep badBlockErase 3E0000 20000
nk_run jffs2 nandkeep eraseJFFS2
nk_run flashfs1 nandkeep eraseflashfs1
nk_run flashfs2 nandkeep eraseflashfs2
nk_run flashfs nandkeep eraseflashfs
nk_run rootfs nandkeep eraseRootfs
nk_run all nandkeep eraseAll
