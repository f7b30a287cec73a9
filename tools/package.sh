#!/bin/bash
# Builds the Debian packages nandkeep_<version>_amd64.deb, nandkeep_<version>_arm64.deb and
# nandkeep_<version>_armhf.deb the way an integrator's build would: the production binary alone,
# configured in a tree where GoogleTest cannot be found (native) and with the cross toolchains
# (arm64 and armhf, tests off by default).
# Prints the package paths; exits non-zero on the first problem. tests/package/check.sh checks
# what they hold.
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

"$sRepo/tools/kernel/install-deps.sh" >&2
sVersion=$(sed -n 's/^project(nandkeep VERSION \([0-9.]*\).*/\1/p' "$sRepo/CMakeLists.txt")
build amd64 "$sOut/amd64" -DCMAKE_BUILD_TYPE=Release -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
build arm64 "$sOut/arm64" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$sRepo/cmake/aarch64-linux-gnu.cmake"
# With compiler flags of its own on the command line, as integrators' builds pass them: they replace
# the toolchain file's flags, and must not take the 64-bit file offsets and clock with them.
build armhf "$sOut/armhf" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-pipe \
    -DCMAKE_TOOLCHAIN_FILE="$sRepo/cmake/arm-linux-gnueabihf.cmake"
ls "$sOut"/{amd64,arm64,armhf}/package/nandkeep_"${sVersion}"_*.deb
