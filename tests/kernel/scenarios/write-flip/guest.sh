# write, then one bit of the range's second block flips, then the same write again.
#@ geometry 128 256
nk_run first nandkeep write "$NK_IN/image.bin" 5500000 100000
mtdprobe clearbits /dev/mtd0 $((0x5520000 + 0x800)) 1
nk_ecc ecc.before
nk_run again nandkeep write "$NK_IN/image.bin" 5500000 100000
nk_ecc ecc.after
nk_dump skip.dump 0x5500000 0x100000 skipbad
nk_dump pad.dump 0x5500000 0x100000 padbad
