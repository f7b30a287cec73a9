. "$NK_TIER_DIR/lib/firmware.sh"
nk_make_firmware
