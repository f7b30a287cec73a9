# write into a range whose second block (chip block 681) fails to program its second page; then
# the same write again.
#@ geometry 128
#@ nandsim weakpages=43585:0
nk_ecc ecc.before
nk_run first nandkeep write "$NK_IN/image.bin" 5500000 100000
nk_ecc ecc.after
nk_run again nandkeep write "$NK_IN/image.bin" 5500000 100000
nk_dump pad.dump 0x5500000 0x100000 padbad
