#!/bin/bash
# The Debian packages tools/package.sh built, for amd64, arm64 and armhf: the architecture; the
# files (the tool, its man page, the boot script and the copyright, nothing else: no simulator
# tools); the production binary's machine (hard-float for armhf), its shared libraries (the C
# library and zlib alone) and that it carries no library search path, and for armhf its 64-bit
# file offsets and clock. And the amd64 configure, made without GoogleTest, said that the tests
# are off and why. Names every problem, exits non-zero after any.
#
#   tests/package/check.sh [DIR]     (default: build-package/ in the repo)
set -uo pipefail
sRepo=$(cd "$(dirname "$0")/../.." && pwd)
sOut=${1:-$sRepo/build-package}
sVersion=$(sed -n 's/^project(nandkeep VERSION \([0-9.]*\).*/\1/p' "$sRepo/CMakeLists.txt")
sTmp=$(mktemp -d)
trap 'rm -rf "$sTmp"' EXIT
iStatus=0
fail() { echo "package: $*" >&2; iStatus=1; }

check() { # ARCH ELF-MACHINE [ELF-FLAG]
    local sArch=$1 sMachine=$2 sFlag=${3:-} sDeb=$sOut/$1/package/nandkeep_${sVersion}_$1.deb
    local sFiles sBin=$sTmp/$1/usr/sbin/nandkeep sHeader sNeeded
    [ -f "$sDeb" ] || { fail "$sArch: no $sDeb"; return; }
    [ "$(dpkg-deb -f "$sDeb" Architecture)" = "$sArch" ] || fail "$sDeb: architecture is not $sArch"
    sFiles=$(dpkg-deb -c "$sDeb" | awk '$6 !~ /\/$/ { print $6 }' | sort | paste -sd' ')
    [ "$sFiles" = "./usr/sbin/nandkeep ./usr/share/doc/nandkeep/copyright \
./usr/share/man/man8/nandkeep.8 ./usr/share/nandkeep/nandkeep-boot.sh" ] ||
        fail "$sDeb holds $sFiles"
    dpkg-deb -x "$sDeb" "$sTmp/$sArch"
    sHeader=$(readelf -h "$sBin")
    grep -q "Machine: *$sMachine\$" <<<"$sHeader" ||
        fail "$sDeb: usr/sbin/nandkeep is not a $sMachine executable"
    [ -z "$sFlag" ] || grep -q "Flags:.*$sFlag" <<<"$sHeader" ||
        fail "$sDeb: usr/sbin/nandkeep is not built for the $sFlag"
    sDynamic=$(readelf -d "$sBin")
    sNeeded=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$sDynamic" | sort | paste -sd' ')
    [ "$sNeeded" = "libc.so.6 libz.so.1" ] ||
        fail "$sDeb: usr/sbin/nandkeep needs $sNeeded, not the C library and zlib alone"
    # The cross builds link zlib from build-cross/ of the checkout: no path of the build machine
    # may go along.
    ! grep -qE '\((RPATH|RUNPATH)\)' <<<"$sDynamic" ||
        fail "$sDeb: usr/sbin/nandkeep searches its libraries in $(sed -n 's/.*path: \[\(.*\)\]/\1/p' <<<"$sDynamic")"
    echo "$sDeb: ${sFiles// /, }; needs $sNeeded"
}

grep -q '^-- nandkeep: tests off: GoogleTest not found' "$sOut/amd64.configure.log" ||
    fail "amd64: the configure did not say that the tests are off and why"
check amd64 'Advanced Micro Devices X86-64'
check arm64 AArch64
# An armhf system runs only hard-float programs. Its binary seeks with 64-bit offsets and reads a
# 64-bit clock: one built with 32-bit ones calls lseek and time instead, and fails on the upper
# half of a 4 GiB chip.
check armhf ARM 'hard-float ABI'
sCalls=$(readelf --dyn-syms -W "$sTmp/armhf/usr/sbin/nandkeep" 2>/dev/null |
    awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }')
for sCall in lseek64 __time64; do
    grep -qx "$sCall" <<<"$sCalls" || fail "armhf: usr/sbin/nandkeep does not call $sCall"
done
for sCall in lseek time; do
    ! grep -qx "$sCall" <<<"$sCalls" || fail "armhf: usr/sbin/nandkeep calls $sCall (32-bit)"
done
exit $iStatus
