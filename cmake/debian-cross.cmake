# What the cross builds for Debian's ARM architectures share; the toolchain file of an
# architecture sets NANDKEEP_CROSS_TRIPLET (aarch64-linux-gnu), NANDKEEP_CROSS_DEB_ARCH (arm64),
# NANDKEEP_CROSS_QEMU (qemu-aarch64) and NANDKEEP_CROSS_LOADER (ld-linux-aarch64.so.1), then
# includes this file. Programs built for the target run under qemu user emulation, so ctest and
# test discovery work on an x86_64 build machine.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${NANDKEEP_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${NANDKEEP_CROSS_TRIPLET}-g++)
set(CMAKE_STRIP ${NANDKEEP_CROSS_TRIPLET}-strip CACHE FILEPATH "")

# Debian keeps the target's libraries in /usr/lib/TRIPLET and the cross C library under
# /usr/TRIPLET; headers such as zlib.h are the same for every architecture.
set(CMAKE_LIBRARY_ARCHITECTURE ${NANDKEEP_CROSS_TRIPLET})
# zlib is looked for first in build-cross/ARCH of the checkout, where the real-kernel tier's
# install-deps.sh unpacks the architecture's zlib packages, then as the installed zlib1g-dev:ARCH.
set(NANDKEEP_CROSS_ZLIB ${CMAKE_CURRENT_LIST_DIR}/../build-cross/${NANDKEEP_CROSS_DEB_ARCH})
set(CMAKE_FIND_ROOT_PATH /usr/${NANDKEEP_CROSS_TRIPLET} ${NANDKEEP_CROSS_ZLIB} /)
# zlib found there is not put into the programs' search path either: they run under the
# emulator below, which is given it, or on the target, which has its own.
set(CMAKE_SKIP_BUILD_RPATH ON)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The target's dynamic loader is started explicitly rather than through qemu's -L prefix:
# Debian's qemu 7.2 user mode hangs in a forked child when -L is in use.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${NANDKEEP_CROSS_QEMU} /usr/${NANDKEEP_CROSS_TRIPLET}/lib/${NANDKEEP_CROSS_LOADER}
    --library-path /usr/${NANDKEEP_CROSS_TRIPLET}/lib:${NANDKEEP_CROSS_ZLIB}/lib/${NANDKEEP_CROSS_TRIPLET}:/usr/lib/${NANDKEEP_CROSS_TRIPLET})
