# Cross build for 32-bit ARM Linux (armv7, hard-float: Debian's armhf) with Debian's
# arm-linux-gnueabihf toolchain (debian-cross.cmake).
# armv7l is what uname -m says on such a board; the package architecture maps it to armhf.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(NANDKEEP_CROSS_TRIPLET arm-linux-gnueabihf)
set(NANDKEEP_CROSS_DEB_ARCH armhf)
set(NANDKEEP_CROSS_QEMU qemu-arm)
set(NANDKEEP_CROSS_LOADER ld-linux-armhf.so.3)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
