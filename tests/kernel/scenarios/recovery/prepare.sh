. "$NK_TIER_DIR/lib/firmware.sh"
nk_make_firmware
head -c $((0x20000)) /dev/urandom >garbage.bin
