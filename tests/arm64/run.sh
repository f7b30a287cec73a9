#!/bin/bash
# Builds nandkeep for 64-bit ARM with Debian's cross toolchain and runs what was built under
# qemu-aarch64 user emulation (no binfmt registration needed): a start-up smoke run of the
# production binary and, when the project has them, the unit and simulator tests through ctest.
#
# Environment: NANDKEEP_ARM_BUILD, the build directory (default build-arm/ in the repo).
set -euo pipefail

sRepo=$(cd "$(dirname "$0")/../.." && pwd)
sBuild=${NANDKEEP_ARM_BUILD:-$sRepo/build-arm}
sToolchain=$sRepo/cmake/aarch64-linux-gnu.cmake
# As in the toolchain file: the loader is named explicitly (qemu's -L hangs forked children).
sEmulator=(qemu-aarch64 /usr/aarch64-linux-gnu/lib/ld-linux-aarch64.so.1
    --library-path /usr/aarch64-linux-gnu/lib:/usr/lib/aarch64-linux-gnu)

say() {
    printf '[arm64] %s\n' "$*" >&2
}

"$sRepo/tools/kernel/install-deps.sh" >&2

for sTool in aarch64-linux-gnu-g++ qemu-aarch64 cmake; do
    command -v "$sTool" >/dev/null || {
        say "$sTool missing: run tools/kernel/install-deps.sh"
        exit 1
    }
done
[ -f /usr/lib/aarch64-linux-gnu/libz.so ] || {
    say "zlib for arm64 missing: run tools/kernel/install-deps.sh"
    exit 1
}

# The project's tests exist once their CMake files do; without them only the binary is built.
sTests=OFF
if [ -f "$sRepo/tests/CMakeLists.txt" ] && [ -f "$sRepo/sim/CMakeLists.txt" ]; then
    sTests=ON
fi

aGtest=()
if [ "$sTests" = ON ]; then
    # Debian ships GoogleTest as source: build it once with the cross compiler.
    sGtest=$sBuild/googletest
    if [ ! -f "$sGtest/install/lib/cmake/GTest/GTestConfig.cmake" ]; then
        say "building GoogleTest for arm64"
        cmake -S /usr/src/googletest -B "$sGtest/build" -DCMAKE_TOOLCHAIN_FILE="$sToolchain" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$sGtest/install" >/dev/null
        cmake --build "$sGtest/build" -j 2 >/dev/null
        cmake --install "$sGtest/build" >/dev/null
    fi
    aGtest=(-DCMAKE_PREFIX_PATH="$sGtest/install")
fi

say "configuring (tests $sTests)"
cmake -S "$sRepo" -B "$sBuild" -DCMAKE_TOOLCHAIN_FILE="$sToolchain" \
    -DBUILD_TESTING="$sTests" "${aGtest[@]}" >/dev/null
say "building"
cmake --build "$sBuild" -j 2

sBinary=$sBuild/nandkeep
file "$sBinary" 2>/dev/null | grep -q 'ARM aarch64' ||
    aarch64-linux-gnu-readelf -h "$sBinary" | grep -q 'AArch64' || {
    say "$sBinary is not an aarch64 executable"
    exit 1
}
aarch64-linux-gnu-strip -o "$sBinary.stripped" "$sBinary"
say "stripped size: $(stat -c %s "$sBinary.stripped") bytes"
say "needs: $(aarch64-linux-gnu-readelf -d "$sBinary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')"

# Smoke run: on a machine without MTD the binary stops in start-up, as on a device whose
# kernel lists no partitions, with status 255.
sMtd=absent
[ -e /proc/mtd ] && sMtd=present
iStatus=0
sOut=$("${sEmulator[@]}" "$sBinary" info) || iStatus=$?
if [ "$sMtd" = absent ]; then
    if [ "$iStatus" -ne 255 ] || [ "$sOut" != "$(printf '\n Nandkeep notify -> fopen()\n/proc/mtd')" ]; then
        say "smoke run under qemu-aarch64: status $iStatus, output: $sOut"
        exit 1
    fi
    say "smoke run under qemu-aarch64: start-up refused a machine without /proc/mtd (255)"
fi

if [ "$sTests" = ON ]; then
    say "running the tests under qemu-aarch64"
    cd "$sBuild"
    # Whole-process tests start the built tools through the same emulator.
    # The power-cut campaigns run thousands of emulated processes: they run in the native builds;
    # everything else, the case transcripts included, runs here.
    NANDKEEP_TEST_LAUNCHER="${sEmulator[*]}" ctest --output-on-failure -j 2 --timeout 600 \
        -E "PowerCut"
else
    say "the project has no unit or simulator tests yet; built the production binary only"
fi
