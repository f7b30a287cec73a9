#!/bin/bash
# Fetches the kernel that Debian's linux-image-amd64 (NK_ARCH=arm64: linux-image-arm64, armhf:
# linux-image-armmp) depends on, with its headers and kbuild tools (unpacked, not installed), and
# the dynamic busybox, into the cache. Prints the directory of the unpacked kernel tree on
# standard output. A complete tree is reused.
# For arm64 and armhf the tree also holds the guest's user space (static and dynamic busybox,
# mtd-utils, script, Python with cram and the shared libraries, under sysroot/). For arm64 it
# holds the raw NAND modules that Debian's arm64 kernel lacks: nand.ko (with software Hamming
# ECC) and nandsim.ko, cross-built from linux-source against the headers and added to the tree's
# modules before depmod. Debian's armmp kernel has raw NAND and ECC built in and nandsim as a module of its own.
set -euo pipefail
. "$(dirname "$0")/lib/common.sh"

# The newest kernel the mirror holds together with its headers and kbuild tools at its very
# version (and, for arm64, its source): a mirror in the middle of a sync can offer a kernel before
# the rest of its set.
sImagePkg= sVersion=
versions() { apt-cache madison "$1" | awk -F'|' '{ gsub(/ /, "", $2); print $2 }'; }
for sMeta in $(versions "linux-image-$NK_FLAVOUR:$NK_DEB_ARCH"); do
    sPkg=$(apt-cache show "linux-image-$NK_FLAVOUR:$NK_DEB_ARCH=$sMeta" |
        sed -n "s/^Depends: .*\(linux-image-[0-9][^ ,]*-$NK_FLAVOUR\)\(:$NK_DEB_ARCH\)\{0,1\} (= \([^)]*\)).*/\1 \3/p")
    sPkg=${sPkg%%$'\n'*}
    [ -n "$sPkg" ] || continue
    sRelease=${sPkg%% *} sV=${sPkg#* }
    sRelease=${sRelease#linux-image-}           # e.g. 6.1.0-57-amd64
    sAbi=${sRelease%-"$NK_FLAVOUR"}             # e.g. 6.1.0-57
    sSeries=$(echo "$sAbi" | cut -d. -f1,2)     # e.g. 6.1
    aKernel=("linux-image-$sRelease:$NK_DEB_ARCH" "linux-headers-$sRelease:$NK_DEB_ARCH"
        "linux-headers-$sAbi-common" "linux-kbuild-$sSeries")
    # The kernel source, for the raw NAND modules of arm64.
    [ "$NK_ARCH" != arm64 ] || aKernel+=("linux-source-$sSeries")
    bWhole=1
    for sPart in "${aKernel[@]}"; do
        versions "$sPart" | grep -xF "$sV" >/dev/null ||
            { nk_log "$sPart $sV: not on the mirror"; bWhole=0; }
    done
    if [ $bWhole -eq 1 ]; then
        sImagePkg=linux-image-$sRelease sVersion=$sV
        break
    fi
done
[ -n "$sImagePkg" ] || nk_die "no kernel of linux-image-$NK_FLAVOUR is on the mirror with its headers and kbuild tools (apt-get update?)"

sTree=$NK_CACHE_DIR/linux-$sRelease-$sVersion
# A tree from before the guest had cram (the transcripts' judge) is fetched again.
if [ -f "$sTree/.complete" ] && { [ "$NK_ARCH" = x86_64 ] || [ -x "$sTree/sysroot/usr/bin/cram3" ]; }; then
    echo "$sTree"
    exit 0
fi

aPackages=("${aKernel[@]/%/=$sVersion}" "busybox:$NK_DEB_ARCH")
if [ "$NK_ARCH" != x86_64 ]; then
    # The guest's user space: the host's mtd-utils and static busybox are amd64.
    for sPackage in busybox-static mtd-utils bsdutils libc6 zlib1g libstdc++6 libgcc-s1 liblzo2-2 \
        libuuid1 libzstd1 libiniparser1 libselinux1 libpcre2-8-0 libssl3 python3.11-minimal \
        libpython3.11-minimal libpython3.11-stdlib libexpat1; do
        aPackages+=("$sPackage:$NK_DEB_ARCH")
    done
    aPackages+=(python3-cram)
fi

nk_log "fetching $sImagePkg $sVersion with headers into $sTree"
rm -rf "$sTree"
mkdir -p "$sTree/root"
nk_download "$sTree/debs" "${aPackages[@]}"
for sDeb in "$sTree"/debs/*.deb; do
    case $(basename "$sDeb") in
    busybox_*) dpkg-deb -x "$sDeb" "$sTree/busybox" ;;
    linux-*) dpkg-deb -x "$sDeb" "$sTree/root" ;;
    *) dpkg-deb -x "$sDeb" "$sTree/sysroot" ;;
    esac
done

# The headers' Makefile includes the common part by its installed path; point it into the tree.
sHeaders=$sTree/root/usr/src/linux-headers-$sRelease
sed -i "s|^include /usr/src/|include $sTree/root/usr/src/|" "$sHeaders/Makefile"
rm -rf "$sTree/debs"

if [ "$NK_ARCH" = arm64 ]; then
    # Debian's arm64 kernel is built without raw NAND; the MTD core, nandcore and bch are its
    # own. The software Hamming ECC, which nandcore would carry, goes into nand.ko.
    sNand=$sTree/nand-build
    sSource=$sTree/root/usr/src/linux-source-$sSeries.tar.xz
    mkdir -p "$sNand/src"
    tar -xJf "$sSource" -C "$sNand/src" --strip-components=1 --wildcards \
        "*/drivers/mtd/nand/raw/*.[ch]" "*/drivers/mtd/nand/raw/Makefile" \
        "*/drivers/mtd/nand/ecc-sw-hamming.c" --exclude="*/drivers/mtd/nand/raw/*/*"
    rm -f "$sSource"
    sRaw=$sNand/src/drivers/mtd/nand/raw
    cp "$sNand/src/drivers/mtd/nand/ecc-sw-hamming.c" "$sRaw/"
    # The objects of nand.ko, as the kernel's own Makefile lists them.
    sObjects=$(sed -n 's/^nand-objs *[:+]*= *//p' "$sRaw/Makefile" | tr '\n' ' ')
    [ -n "$sObjects" ] || nk_die "no nand-objs in the raw NAND Makefile of linux-source-$sSeries"
    {
        echo "ccflags-y += -DCONFIG_MTD_NAND_ECC_SW_HAMMING=1"
        echo "obj-m := nand.o nandsim.o"
        echo "nand-y := $sObjects ecc-sw-hamming.o"
    } >"$sRaw/Kbuild"
    rm "$sRaw/Makefile"
    nk_log "building nand.ko and nandsim.ko for $sRelease"
    nk_timed 600 make -C "$sHeaders" M="$sRaw" CROSS_COMPILE="$NK_CROSS" -j 2 modules \
        >"$sNand/build.log" 2>&1 || {
        tail -n 30 "$sNand/build.log" >&2
        nk_die "the raw NAND modules did not build"
    }
    mkdir -p "$sTree/root/lib/modules/$sRelease/updates"
    cp "$sRaw/nand.ko" "$sRaw/nandsim.ko" "$sTree/root/lib/modules/$sRelease/updates/"
fi
[ "$NK_ARCH" = x86_64 ] || [ -x "$sTree/sysroot/bin/busybox" ] ||
    nk_die "no busybox binary in busybox-static:$NK_DEB_ARCH"
[ "$NK_ARCH" = x86_64 ] || [ -x "$sTree/sysroot/usr/bin/script" ] ||
    nk_die "no script binary in bsdutils:$NK_DEB_ARCH"
[ "$NK_ARCH" = x86_64 ] || [ -x "$sTree/sysroot/usr/bin/cram3" ] ||
    nk_die "no cram3 in python3-cram"
depmod -b "$sTree/root" "$sRelease"

[ -f "$sTree/root/boot/vmlinuz-$sRelease" ] || nk_die "no kernel image in $sImagePkg"
[ -x "$sTree/busybox/bin/busybox" ] || nk_die "no busybox binary in the busybox package"
echo "$sRelease" >"$sTree/release"
touch "$sTree/.complete"
echo "$sTree"
