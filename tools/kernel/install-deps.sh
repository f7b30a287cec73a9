#!/bin/bash
# Installs, from Debian's own repositories, what the real-kernel tier and the arm64 build need:
# the emulators (x86_64 and aarch64 systems, aarch64 user mode), the guest's user space
# (busybox-static, mtd-utils, Python with cram), mkimage for test images, what the module builds need (gcc-12,
# make and the shared libraries of the kbuild host tools) and the aarch64 and armhf cross
# toolchains (gcc 12) with zlib for arm64 and armhf. Does nothing when all of it is there; safe to
# run again.
# The kernels, their headers and kbuild tools, the dynamic busybox (which conflicts with
# busybox-static) and the ARM guests' user space are not installed: fetch-kernel.sh downloads
# and unpacks them into a cache.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

aPackages=(qemu-system-x86 qemu-system-arm qemu-user busybox-static mtd-utils python3-cram cpio u-boot-tools
    gcc gcc-12 make libc6-dev linux-libc-dev libelf1 libssl3 xz-utils zstd kmod binutils
    g++-aarch64-linux-gnu gcc-12-aarch64-linux-gnu zlib1g-dev:arm64
    g++-arm-linux-gnueabihf gcc-12-arm-linux-gnueabihf zlib1g-dev:armhf
    cmake g++ zlib1g-dev googletest)

aMissing=()
for sPackage in "${aPackages[@]}"; do
    dpkg-query -W -f='${Status}' "$sPackage" 2>/dev/null | grep -q "ok installed" ||
        aMissing+=("$sPackage")
done
[ ${#aMissing[@]} -eq 0 ] && exit 0

for sArch in arm64 armhf; do
    dpkg --print-foreign-architectures | grep -qx "$sArch" || $SUDO dpkg --add-architecture "$sArch"
done
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${aMissing[@]}"
