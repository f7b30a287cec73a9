. "$NK_TIER_DIR/lib/firmware.sh"
nk_make_firmware
cp "$NK_TIER_DIR/scenarios/lock/cfgvault" .
