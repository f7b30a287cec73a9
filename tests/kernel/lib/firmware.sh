# Test firmware for the scenarios' prepare.sh (host side): nk_make_firmware writes into the
# current directory boot.bin, kernel.img, dtb.img and rootfs.img (mkimage legacy images with
# random data) and defconf.txt. The sizes are not multiples of 128 KiB, so the last chunk of each
# image is a short one; the kernel and rootfs images span several blocks.
nk_make_firmware() {
    head -c $((0x2A123)) /dev/urandom >boot.bin
    head -c $((0x17F0A1)) /dev/urandom >kernel.raw
    head -c $((0x2345)) /dev/urandom >dtb.raw
    head -c $((0x2F3210)) /dev/urandom >rootfs.raw
    mkimage -A arm64 -O linux -T kernel -C none -a 0x80000 -e 0x80000 -n kernel \
        -d kernel.raw kernel.img >/dev/null
    mkimage -A arm64 -O linux -T firmware -C none -n dtb -d dtb.raw dtb.img >/dev/null
    mkimage -A arm64 -O linux -T ramdisk -C none -n rootfs -d rootfs.raw rootfs.img >/dev/null
    rm -f kernel.raw dtb.raw rootfs.raw
    {
        echo "# default configuration"
        for i in $(seq 1 40); do
            echo "key$i=value $i $RANDOM"
        done
    } >defconf.txt
}
