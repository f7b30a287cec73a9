# Cross build for 64-bit ARM Linux with Debian's aarch64-linux-gnu toolchain (debian-cross.cmake).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(NANDKEEP_CROSS_TRIPLET aarch64-linux-gnu)
set(NANDKEEP_CROSS_DEB_ARCH arm64)
set(NANDKEEP_CROSS_QEMU qemu-aarch64)
set(NANDKEEP_CROSS_LOADER ld-linux-aarch64.so.1)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
