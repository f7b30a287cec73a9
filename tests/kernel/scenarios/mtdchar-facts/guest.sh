# How the kernel's MTD character device answers the calls nandkeep makes, recorded on the
# simulated chip with block 5 bad (blocks 4 to 11 are outside every firmware region).
#@ geometry 128 256
#@ nandsim badblocks=5
iStrength=1
[ "$NK_GEOMETRY" = 256 ] && iStrength=4
nk_run facts mtdprobe facts /dev/mtd0 "$(nk_mtd_by_name jffs2)" 0x160000 "$iStrength"
