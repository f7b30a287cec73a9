# write into a range whose second block (chip block 681) fails its first erase.
#@ geometry 128 256
#@ nandsim weakblocks=681:0
nk_ecc ecc.before
nk_run write nandkeep write "$NK_IN/image.bin" 5500000 100000
nk_ecc ecc.after
nk_dump skip.dump 0x5500000 0x100000 skipbad
nk_dump pad.dump 0x5500000 0x100000 padbad
