# Two different 32 MiB images for the rootfs 0 region, and firmware for the upgrade.
head -c $((0x2000000)) /dev/urandom >a.bin
head -c $((0x2000000)) /dev/urandom >b.bin
. "$NK_TIER_DIR/lib/firmware.sh"
nk_make_firmware
