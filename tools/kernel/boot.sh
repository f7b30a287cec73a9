#!/bin/bash
# Boots the test guest once under software emulation and waits for it to power off:
#   boot.sh KERNEL_TREE INITRAMFS SHARE_DIR CONSOLE_LOG TIMEOUT_SECONDS
# SHARE_DIR (boot.conf, jobs.list, cases/, inputs/, scripts/, results/) is the guest's
# /mnt/host. Exits 0 only when the guest reported that it ran every job; the console log is kept.
set -uo pipefail
. "$(dirname "$0")/lib/common.sh"

[ $# -eq 5 ] || nk_die "usage: $0 KERNEL_TREE INITRAMFS SHARE_DIR CONSOLE_LOG TIMEOUT_SECONDS"
sTree=$1
sInitrd=$2
sShare=$3
sConsole=$4
iLimit=$5
sRelease=$(cat "$sTree/release")

rm -f "$sShare/results/done"
# arm64 and armhf: the virt board needs no firmware (the kernel gets qemu's device tree); -cpu max
# would emulate pointer authentication on arm64, which makes the guest several times slower.
case $NK_ARCH in
arm64)
    aMachine=(qemu-system-aarch64 -machine "virt,accel=tcg" -cpu cortex-a57)
    sConsoleDev=ttyAMA0
    ;;
armhf)
    # Debian's armmp kernel has no large physical addresses (LPAE): with the board's devices
    # above 4 GiB (highmem) it cannot reach the PCI host, and the 9p share is a PCI device.
    aMachine=(qemu-system-arm -machine "virt,highmem=off,accel=tcg" -cpu cortex-a15)
    sConsoleDev=ttyAMA0
    ;;
*)
    # The baseline x86-64 model: under -cpu max the transcripts ran about a quarter slower.
    aMachine=(qemu-system-x86_64 -machine "pc,accel=tcg" -cpu qemu64)
    sConsoleDev=ttyS0
    ;;
esac
nk_timed "$iLimit" "${aMachine[@]}" -smp 1 -m "${NK_GUEST_MEMORY:-1024}" \
    -nodefaults -no-reboot -display none -monitor none \
    -serial "file:$sConsole" \
    -kernel "$sTree/root/boot/vmlinuz-$sRelease" \
    -initrd "$sInitrd" \
    -append "console=$sConsoleDev panic=-1 loglevel=4 rdinit=/init" \
    -virtfs "local,path=$sShare,mount_tag=nkshare,security_model=none,id=nkshare" \
    </dev/null
iStatus=$?
if [ "$iStatus" -ne 0 ]; then
    nk_log "qemu ended with status $iStatus"
fi
if [ ! -f "$sShare/results/done" ]; then
    nk_log "the guest did not finish its jobs; console in $sConsole, last lines:"
    tail -n 40 "$sConsole" | sed 's/^/    | /' >&2
    exit 1
fi
exit 0
