#!/bin/sh
# Installs, from Debian's own repositories, what the real-kernel tier and the arm64 build need:
# the emulators, the guest's user space (busybox, mtd-utils), mkimage for test images, the
# pieces the partition-table module build needs (gcc-12, make and the shared libraries of the
# kbuild host tools) and the aarch64 cross toolchain with zlib for arm64.
# The kernel, its headers and the dynamic busybox are not installed here: fetch-kernel.sh
# downloads and unpacks them into a cache.
set -eu

export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    dpkg --add-architecture arm64
fi
apt-get update

apt-get install -y --no-install-recommends \
    qemu-system-x86 qemu-user \
    busybox-static mtd-utils cpio u-boot-tools \
    gcc-12 make libelf1 libssl3 xz-utils zstd kmod \
    g++-aarch64-linux-gnu zlib1g-dev:arm64 \
    cmake g++ zlib1g-dev googletest
