. "$NK_TIER_DIR/lib/firmware.sh"
nk_make_firmware
head -c $((0x1F00)) /dev/urandom >dtb2.raw
mkimage -A arm64 -O linux -T firmware -C none -n dtb2 -d dtb2.raw dtb2.img >/dev/null
rm -f dtb2.raw
head -c $((0x1F000)) /dev/urandom >bst.bin
printf 'factory=2\nname=second default configuration\n' >defconf2.txt
