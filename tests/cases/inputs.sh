#!/bin/sh
# Makes the input files of the case transcripts in DIR, on the host (mkimage from u-boot-tools):
# two firmware sets A and B (NAME.boot, NAME.kernel, NAME.dtb and NAME.rootfs made by mkimage,
# NAME.defconf), a DTB that is not wrapped as an image (dtb.raw), a long DTB image and a few plain
# files. The bytes are the same on every run, so the checksums the tool prints are part of the
# transcripts. Sizes are not multiples of 128 KiB, so every last piece is a short one. A run finds
# them made when this script and every file still have the checksums noted at the making (.done);
# else they are made again, so that a run of a tool gone wrong (a planted fault that writes into
# its source) cannot spoil later runs, and a changed script makes its files again.
# Usage: inputs.sh DIR
set -eu
sDir=$1
sSelf=$(cksum <"$0")
mkdir -p "$sDir"
cd "$sDir"
[ -f .done ] && { echo "$sSelf"; cksum * 2>/dev/null; } | cmp -s - .done && exit 0
rm -f ./* .done
export SOURCE_DATE_EPOCH=0

# LENGTH bytes of a counting text starting at FIRST: distinct at every offset, the same always.
bytes() {
    seq "$2" 99999999 | head -c "$1"
}

image() { # TYPE NAME DATA OUT
    mkimage -A arm64 -O linux -T "$1" -C none -a 0x80000 -e 0x80000 -n "$2" -d "$3" "$4" >/dev/null
}

make_set() { # NAME FIRST
    bytes $((0x2A123)) "$2" >"$1.boot"
    bytes $((0x17F0A1)) $(($2 + 1)) >kernel.raw
    bytes $((0x2345)) $(($2 + 2)) >"$1.dtb.raw"
    bytes $((0x2F3210)) $(($2 + 3)) >rootfs.raw
    image kernel kernel kernel.raw "$1.kernel"
    image firmware dtb "$1.dtb.raw" "$1.dtb"
    image ramdisk rootfs rootfs.raw "$1.rootfs"
    seq 1 40 | sed "s/.*/key&=value $1 &/" >"$1.defconf"
    rm -f kernel.raw rootfs.raw
}

make_set A 1
make_set B 5000
mv A.dtb.raw dtb.raw
rm -f B.dtb.raw
bytes 5 7 >five.txt
head -c $((0x760001 - 64)) /dev/zero >long.raw # a DTB image one byte longer than 0x760000
image firmware dtb long.raw long.dtb
rm -f long.raw
: >empty.txt
bytes $((0x1FFF8)) 11 >block.txt  # one block exactly, as a record
bytes $((0x1FFF9)) 11 >over.txt   # one byte too many for one block
{ echo "$sSelf"; cksum *; } >.done
