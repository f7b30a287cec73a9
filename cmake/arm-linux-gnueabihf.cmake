# Cross build for 32-bit ARM Linux (armv7, hard-float: Debian's armhf) with Debian's
# arm-linux-gnueabihf toolchain and multiarch libraries (zlib1g-dev:armhf). Programs built for the
# target run under qemu-arm user emulation, so ctest and test discovery work on an x86_64 build
# machine.
set(CMAKE_SYSTEM_NAME Linux)
# armv7l is what uname -m says on such a board; the package architecture maps it to armhf.
set(CMAKE_SYSTEM_PROCESSOR armv7l)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_STRIP arm-linux-gnueabihf-strip CACHE FILEPATH "")

# Debian keeps armhf libraries in /usr/lib/arm-linux-gnueabihf and the cross C library under
# /usr/arm-linux-gnueabihf; headers such as zlib.h are the same for every architecture.
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# zlib is looked for first in build-cross/armhf of the checkout, where the real-kernel tier's
# install-deps.sh unpacks its armhf packages, then as the installed zlib1g-dev:armhf.
set(NANDKEEP_CROSS_ZLIB ${CMAKE_CURRENT_LIST_DIR}/../build-cross/armhf)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf ${NANDKEEP_CROSS_ZLIB} /)
# zlib found there is not put into the programs' search path either: they run under the
# emulator below, which is given it, or on the target, which has its own.
set(CMAKE_SKIP_BUILD_RPATH ON)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The target's dynamic loader is started explicitly rather than through qemu's -L prefix, as for
# arm64 (Debian's qemu 7.2 user mode hangs in a forked child when -L is in use).
set(NANDKEEP_ARMHF_EMULATOR
    qemu-arm /usr/arm-linux-gnueabihf/lib/ld-linux-armhf.so.3
    --library-path /usr/arm-linux-gnueabihf/lib:${NANDKEEP_CROSS_ZLIB}/lib/arm-linux-gnueabihf:/usr/lib/arm-linux-gnueabihf)
set(CMAKE_CROSSCOMPILING_EMULATOR ${NANDKEEP_ARMHF_EMULATOR})
