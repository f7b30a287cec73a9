# Cross build for 64-bit ARM Linux with Debian's aarch64-linux-gnu toolchain and multiarch
# libraries (zlib1g-dev:arm64). Programs built for the target run under qemu-aarch64 user
# emulation, so ctest and test discovery work on an x86_64 build machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_STRIP aarch64-linux-gnu-strip CACHE FILEPATH "")

# Debian keeps arm64 libraries in /usr/lib/aarch64-linux-gnu and the cross C library under
# /usr/aarch64-linux-gnu; headers such as zlib.h are the same for every architecture.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# zlib is looked for first in build-cross/arm64 of the checkout, where the real-kernel tier's
# install-deps.sh unpacks its arm64 packages, then as the installed zlib1g-dev:arm64.
set(NANDKEEP_CROSS_ZLIB ${CMAKE_CURRENT_LIST_DIR}/../build-cross/arm64)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu ${NANDKEEP_CROSS_ZLIB} /)
# zlib found there is not put into the programs' search path either: they run under the
# emulator below, which is given it, or on the target, which has its own.
set(CMAKE_SKIP_BUILD_RPATH ON)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The target's dynamic loader is started explicitly rather than through qemu's -L prefix:
# Debian's qemu-aarch64 7.2 hangs in a forked child when -L is in use.
set(NANDKEEP_AARCH64_EMULATOR
    qemu-aarch64 /usr/aarch64-linux-gnu/lib/ld-linux-aarch64.so.1
    --library-path /usr/aarch64-linux-gnu/lib:${NANDKEEP_CROSS_ZLIB}/lib/aarch64-linux-gnu:/usr/lib/aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR ${NANDKEEP_AARCH64_EMULATOR})
