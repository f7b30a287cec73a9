#!/bin/bash
# Builds the Debian packages nandkeep_<version>_amd64.deb, nandkeep_<version>_arm64.deb and
# nandkeep_<version>_armhf.deb the way an integrator's build would: the production binary alone,
# configured in a tree where GoogleTest cannot be found (native) and with the cross toolchains
# (arm64 and armhf, tests off by default).
# Checks each package with dpkg-deb: the architecture, the binary's machine, and the files it
# must hold. Prints the package paths; exits non-zero on the first problem.
#
#   tools/package.sh [OUTDIR]     (default: build-package/ in the repo)
set -euo pipefail
sRepo=$(cd "$(dirname "$0")/.." && pwd)
sOut=${1:-$sRepo/build-package}
mkdir -p "$sOut"

fail() {
    echo "package: $*" >&2
    exit 1
}

build() { # ARCH BUILD-DIR CMAKE-OPTIONS...
    local sArch=$1 sDir=$2
    shift 2
    rm -rf "$sDir"
    cmake -S "$sRepo" -B "$sDir" -G Ninja "$@" >"$sDir.configure.log" 2>&1 ||
        fail "$sArch: configure failed (see $sDir.configure.log)"
    cmake --build "$sDir" -j 2 >/dev/null || fail "$sArch: build failed"
    (cd "$sDir" && cpack >/dev/null) || fail "$sArch: cpack failed"
}

check() { # ARCH DEB ELF-MACHINE [ELF-FLAG]
    local sArch=$1 sDeb=$2 sMachine=$3 sFlag=${4:-} sList sFile sHeader
    [ -f "$sDeb" ] || fail "$sArch: no $sDeb"
    [ "$(dpkg-deb -f "$sDeb" Architecture)" = "$sArch" ] || fail "$sDeb: architecture is not $sArch"
    sList=$(dpkg-deb -c "$sDeb" | awk '{ print $6 }')
    for sFile in ./usr/sbin/nandkeep ./usr/share/man/man8/nandkeep.8 \
        ./usr/share/nandkeep/nandkeep-boot.sh ./usr/share/doc/nandkeep/copyright; do
        grep -qx "$sFile" <<<"$sList" || fail "$sDeb lacks $sFile"
    done
    ! grep -q simctl <<<"$sList" || fail "$sDeb holds the simulator tools"
    rm -rf "$sOut/x-$sArch"
    dpkg-deb -x "$sDeb" "$sOut/x-$sArch"
    sHeader=$(readelf -h "$sOut/x-$sArch/usr/sbin/nandkeep")
    grep -q "Machine: *$sMachine\$" <<<"$sHeader" ||
        fail "$sDeb: usr/sbin/nandkeep is not a $sMachine executable"
    [ -z "$sFlag" ] || grep -q "Flags:.*$sFlag" <<<"$sHeader" ||
        fail "$sDeb: usr/sbin/nandkeep is not built for the $sFlag"
    echo "$sDeb"
}

"$sRepo/tools/kernel/install-deps.sh" >&2
sVersion=$(sed -n 's/^project(nandkeep VERSION \([0-9.]*\).*/\1/p' "$sRepo/CMakeLists.txt")
build amd64 "$sOut/amd64" -DCMAKE_BUILD_TYPE=Release -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
grep -q '^-- nandkeep: tests off: GoogleTest not found' "$sOut/amd64.configure.log" ||
    fail "amd64: the configure did not say that the tests are off and why"
check amd64 "$sOut/amd64/package/nandkeep_${sVersion}_amd64.deb" 'Advanced Micro Devices X86-64'
build arm64 "$sOut/arm64" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$sRepo/cmake/aarch64-linux-gnu.cmake"
check arm64 "$sOut/arm64/package/nandkeep_${sVersion}_arm64.deb" AArch64
build armhf "$sOut/armhf" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$sRepo/cmake/arm-linux-gnueabihf.cmake"
# An armhf system runs only hard-float programs.
check armhf "$sOut/armhf/package/nandkeep_${sVersion}_armhf.deb" ARM 'hard-float ABI'
