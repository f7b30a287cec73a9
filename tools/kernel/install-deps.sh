#!/bin/bash
# Installs, from Debian's own repositories, what the real-kernel tier and the arm64 build need:
# the emulators (x86_64 and aarch64 systems, aarch64 user mode), the guest's user space
# (busybox-static, mtd-utils, Python with cram), mkimage for test images, what the module builds need (gcc-12,
# make and the shared libraries of the kbuild host tools) and the aarch64 and armhf cross
# toolchains (gcc 12). Does nothing when all of it is there; safe to run again.
# The kernels, their headers and kbuild tools, the dynamic busybox (which conflicts with
# busybox-static) and the ARM guests' user space are not installed: fetch-kernel.sh downloads
# and unpacks them into a cache. Nor is zlib for arm64 and armhf: a foreign -dev package must be
# the very version of the build machine's own (and so must everything it depends on), which a
# mirror in the middle of a sync cannot always offer. Its packages are unpacked into
# build-cross/ARCH of the checkout instead, where the toolchain files in cmake/ look first.
set -euo pipefail
. "$(dirname "$0")/lib/common.sh"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

aPackages=(qemu-system-x86 qemu-system-arm qemu-user busybox-static mtd-utils python3-cram cpio u-boot-tools
    gcc gcc-12 make libc6-dev linux-libc-dev libelf1 libssl3 xz-utils zstd kmod binutils
    g++-aarch64-linux-gnu gcc-12-aarch64-linux-gnu g++-arm-linux-gnueabihf gcc-12-arm-linux-gnueabihf
    cmake g++ zlib1g-dev googletest)

aMissing=()
for sPackage in "${aPackages[@]}"; do
    dpkg-query -W -f='${Status}' "$sPackage" 2>/dev/null | grep -q "ok installed" ||
        aMissing+=("$sPackage")
done
bNewArch=0
sForeign=$(dpkg --print-foreign-architectures)
for sArch in arm64 armhf; do
    grep -qx "$sArch" <<<"$sForeign" || { $SUDO dpkg --add-architecture "$sArch" && bNewArch=1; }
done
if [ ${#aMissing[@]} -gt 0 ] || [ $bNewArch -eq 1 ]; then
    "$NK_REPO_DIR/scripts/apt-update.sh"
fi
[ ${#aMissing[@]} -eq 0 ] ||
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${aMissing[@]}"

for sArch in arm64 armhf; do
    sRoot=$NK_REPO_DIR/build-cross/$sArch
    [ ! -f "$sRoot/.complete" ] || continue
    rm -rf "$sRoot"
    nk_download "$sRoot/debs" "zlib1g:$sArch" "zlib1g-dev:$sArch"
    for sDeb in "$sRoot"/debs/*.deb; do
        dpkg-deb -x "$sDeb" "$sRoot"
    done
    rm -rf "$sRoot/debs"
    # libz.so points at the run-time library by its installed path: point it into the tree.
    find "$sRoot" -type l -lname '/*' | while read -r sLink; do
        ln -sfnr "$sRoot$(readlink "$sLink")" "$sLink"
    done
    touch "$sRoot/.complete"
done
