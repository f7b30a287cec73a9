#!/bin/bash
# Builds the guest's initramfs from Debian's packages and the production binary:
#   build-initramfs.sh KERNEL_TREE NANDKEEP MODULES_DIR MTDPROBE OUTPUT
# KERNEL_TREE is what fetch-kernel.sh printed, MODULES_DIR where tools/kernel/modules was built
# (mtdtable.ko and mtdfault.ko). The image holds the static busybox (PID 1 and the applets), the
# dynamic busybox as /bin/sh, the MTD and 9p modules with their
# dependencies (those the kernel has built in are left out; mtdblock gives every MTD device its
# block device, as on the device), the stripped nandkeep, mtd-utils, script, Python with cram,
# every shared library these need, the helper mtdprobe and the guest scripts (init, the job
# runner, nk-flash and the device stand-ins).
# For arm64 and armhf (NK_ARCH) the busyboxes, mtd-utils, Python and the shared libraries come
# from that architecture's packages that fetch-kernel.sh unpacked into the tree (sysroot/), not
# from the host.
set -euo pipefail
. "$(dirname "$0")/lib/common.sh"

[ $# -eq 5 ] || nk_die "usage: $0 KERNEL_TREE NANDKEEP MODULES_DIR MTDPROBE OUTPUT"
sTree=$1
sNandkeep=$2
sModules=$3
sMtdprobe=$4
sOutput=$5
sRelease=$(cat "$sTree/release")
sModDir=$sTree/root/lib/modules/$sRelease
NK_MTD_UTILS="nanddump nandwrite flash_erase mtdinfo mtd_debug nandtest"

sRoot=$(mktemp -d)
trap 'rm -rf "$sRoot"' EXIT
mkdir -p "$sRoot"/{bin,sbin,usr/bin,usr/sbin,etc/nk,lib/nk-modules,lib64,dev,proc,sys,tmp}

sSysroot=
sStaticBusybox=/bin/busybox
if [ "$NK_ARCH" != x86_64 ]; then
    sSysroot=$sTree/sysroot
    sStaticBusybox=$sSysroot/bin/busybox
fi

# Copies a dynamically linked program's shared libraries to the same paths in the image; a
# foreign program's are looked up by name in the sysroot, as its loader would.
copy_libs() {
    local sLib sDir sFound sInterp
    if [ -n "$sSysroot" ]; then
        sInterp=$(readelf -l "$1" | sed -n 's/.*program interpreter: \(\/[^]]*\)\]/\1/p')
        if [ -n "$sInterp" ] && [ ! -e "$sRoot$sInterp" ]; then
            mkdir -p "$sRoot$(dirname "$sInterp")"
            cp -L "$sSysroot$sInterp" "$sRoot$sInterp"
        fi
        for sLib in $(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            [ -e "$sRoot/lib/$NK_MULTIARCH/$sLib" ] && continue
            sFound=
            for sDir in lib usr/lib; do
                [ -e "$sSysroot/$sDir/$NK_MULTIARCH/$sLib" ] && sFound=$sSysroot/$sDir/$NK_MULTIARCH/$sLib
            done
            [ -n "$sFound" ] || nk_die "$sLib, needed by $(basename "$1"), is not in the $NK_ARCH packages"
            mkdir -p "$sRoot/lib/$NK_MULTIARCH"
            cp -L "$sFound" "$sRoot/lib/$NK_MULTIARCH/$sLib"
            copy_libs "$sFound"
        done
        return
    fi
    for sLib in $(ldd "$1" | sed -n 's/.*=> \(\/[^ ]*\) .*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) .*/\1/p'); do
        if [ ! -e "$sRoot$sLib" ]; then
            mkdir -p "$sRoot$(dirname "$sLib")"
            cp -L "$sLib" "$sRoot$sLib"
        fi
    done
}

# Static busybox: PID 1 links every applet under the usual directories at boot.
cp "$sStaticBusybox" "$sRoot/bin/busybox"
if [ -n "$sSysroot" ]; then
    readelf -l "$sRoot/bin/busybox" | grep -q 'program interpreter' &&
        nk_die "$sStaticBusybox is not the static busybox"
else
    file -L "$sRoot/bin/busybox" 2>/dev/null | grep -q 'statically linked' ||
        ldd "$sRoot/bin/busybox" 2>&1 | grep -q 'not a dynamic executable' ||
        nk_die "/bin/busybox is not the static busybox (install busybox-static)"
fi
# The dynamic busybox serves /bin/sh: its shell looks programs up in PATH before its applets,
# so stand-ins named like applets are found.
cp "$sTree/busybox/bin/busybox" "$sRoot/bin/busybox-dynamic"
copy_libs "$sRoot/bin/busybox-dynamic"
ln -sf busybox-dynamic "$sRoot/bin/sh"

# The production binary, stripped as it would ship.
"${NK_CROSS}strip" -o "$sRoot/usr/bin/nandkeep" "$sNandkeep"
copy_libs "$sNandkeep"

cp "$sMtdprobe" "$sRoot/usr/bin/mtdprobe"
copy_libs "$sMtdprobe"

# script, for the cases that watch the tool on a terminal (a pseudo-terminal of the guest).
if [ -n "$sSysroot" ]; then
    sScript=$sSysroot/usr/bin/script
else
    sScript=$(command -v script) || nk_die "script missing (install bsdutils)"
fi
cp "$sScript" "$sRoot/usr/bin/script"
copy_libs "$sScript"

# Python and cram, which judge the case transcripts in the guest as they do on the host: the
# interpreter and the part of its library that cram uses (the top-level modules and four
# packages).
sPython=$sSysroot/usr/bin/python3.11
[ -x "$sPython" ] || nk_die "$sPython missing (install python3-cram)"
cp "$sPython" "$sRoot/usr/bin/python3.11" && ln -s python3.11 "$sRoot/usr/bin/python3"
copy_libs "$sPython"
# lib-dynload stays empty: none of its modules is needed, but the interpreter looks for the folder.
mkdir -p "$sRoot/usr/lib/python3.11/lib-dynload" "$sRoot/usr/lib/python3/dist-packages"
(cd "$sSysroot/usr/lib/python3.11" && tar -c --exclude=__pycache__ ./*.py collections encodings importlib re) |
    tar -x -C "$sRoot/usr/lib/python3.11"
cp -r "$sSysroot/usr/lib/python3/dist-packages/cram" "$sRoot/usr/lib/python3/dist-packages/"
cp "$sSysroot/usr/bin/cram3" "$sRoot/usr/bin/cram3"

for sTool in $NK_MTD_UTILS; do
    if [ -n "$sSysroot" ]; then
        sPath=$sSysroot/usr/sbin/$sTool
        [ -x "$sPath" ] || nk_die "$sTool missing from mtd-utils:$NK_DEB_ARCH"
    else
        sPath=$(command -v "$sTool") || nk_die "$sTool missing (install mtd-utils)"
    fi
    cp "$sPath" "$sRoot/usr/sbin/$sTool"
    copy_libs "$sPath"
done

# Kernel modules, listed in load order with their dependencies from modules.dep. A module the
# kernel has built in (modules.builtin: Debian's armmp kernel has the MTD core, raw NAND and bch)
# needs no loading and is left out.
resolve_modules() {
    local sMod sPath sDep
    for sMod in "$@"; do
        grep -qE "(^|/)$sMod\.ko\$" "$sModDir/modules.builtin" 2>/dev/null && continue
        sPath=$(grep -E "(^|/)$sMod\.ko(\.[a-z]+)?:" "$sModDir/modules.dep" | head -n1 | cut -d: -f1)
        [ -n "$sPath" ] || nk_die "module $sMod not in $sRelease"
        for sDep in $(grep -E "^$sPath:" "$sModDir/modules.dep" | cut -d: -f2); do
            resolve_modules "$(basename "$sDep" | sed 's/\.ko.*//')"
        done
        echo "$sMod"
    done
}
install_modules() {
    local sList=$1 sMod sPath
    shift
    resolve_modules "$@" | awk '!seen[$0]++' >"$sRoot/etc/nk/$sList"
    for sMod in $(cat "$sRoot/etc/nk/$sList"); do
        sPath=$(grep -E "(^|/)$sMod\.ko(\.[a-z]+)?:" "$sModDir/modules.dep" | head -n1 | cut -d: -f1)
        case $sPath in
        *.ko.xz) xz -dc "$sModDir/$sPath" >"$sRoot/lib/nk-modules/$sMod.ko" ;;
        *.ko.zst) zstd -qdc "$sModDir/$sPath" >"$sRoot/lib/nk-modules/$sMod.ko" ;;
        *.ko.gz) gzip -dc "$sModDir/$sPath" >"$sRoot/lib/nk-modules/$sMod.ko" ;;
        *) cp "$sModDir/$sPath" "$sRoot/lib/nk-modules/$sMod.ko" ;;
        esac
    done
}
install_modules modules.share virtio_pci 9pnet_virtio 9p
install_modules modules.nand mtd bch nandcore nand mtdblock nandsim
cp "$sModules/mtdtable.ko" "$sModules/mtdfault.ko" "$sRoot/lib/nk-modules/"

cp "$NK_TIER_DIR/guest/init" "$sRoot/init"
cp "$NK_TIER_DIR/guest/runner.sh" "$sRoot/etc/nk/"
cp "$NK_TIER_DIR/guest/nk-flash" "$NK_TIER_DIR/guest/ovenctl" "$NK_TIER_DIR/guest/cfgvault" \
    "$sRoot/usr/bin/"
chmod 755 "$sRoot/init" "$sRoot/usr/bin/nk-flash" "$sRoot/usr/bin/ovenctl" "$sRoot/usr/bin/cfgvault"
mkdir -p "$sRoot/usr/share/nandkeep"
cp "$NK_REPO_DIR/boot/nandkeep-boot.sh" "$sRoot/usr/share/nandkeep/"
echo nandkeep-guest >"$sRoot/etc/hostname"

(cd "$sRoot" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) | gzip -1 >"$sOutput"
