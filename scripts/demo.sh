#!/usr/bin/env bash
# Installs what is needed, builds, creates a simulated 128 MiB NAND device and runs the main job
# on it. The device stays in $NANDKEEP_SIM_DIR (default /tmp/nandkeep-sim) for you to explore:
#   build/sim/nandkeep-sim <command>     the tool on the simulated device
#   build/sim/nandkeep-simctl status     what the simulator saw
set -euo pipefail
cd "$(dirname "$0")/.."
export NANDKEEP_SIM_DIR=${NANDKEEP_SIM_DIR:-/tmp/nandkeep-sim}
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j "${NANDKEEP_JOBS:-2}" nandkeep nandkeep-sim nandkeep-simctl
tool=build/sim/nandkeep-sim
ctl=build/sim/nandkeep-simctl
step() { printf '\n$ %s\n' "$*"; "$@" || echo "(exit status $?)"; }

step "$ctl" create --profile 128
step "$ctl" info
step "$tool" info

# A firmware set, made the way a build system makes one.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 200000 /dev/urandom > "$work/boot.bin"
head -c 900000 /dev/urandom > "$work/kernel.raw"
head -c 30000 /dev/urandom > "$work/dtb.raw"
head -c 3000000 /dev/urandom > "$work/rootfs.raw"
printf 'hostname=oven\nlanguage=en\n' > "$work/defconf.txt"
mk() { mkimage -A arm64 -O linux -T "$1" -C none -a 0 -e 0 -n "$2" -d "$3" "$4" >/dev/null; }
mk kernel kernel "$work/kernel.raw" "$work/kernel.img"
mk firmware dtb "$work/dtb.raw" "$work/dtb.img"
mk ramdisk rootfs "$work/rootfs.raw" "$work/rootfs.img"
set_args=("$work/boot.bin" "$work/kernel.img" "$work/dtb.img" "$work/rootfs.img" "$work/defconf.txt")

echo; echo "=== the upgrade: backup copies first, then flashstatus 1, then the normal copies"
step "$tool" upgradeFW "${set_args[@]}"
step "$ctl" flashstatus
step "$ctl" ops
step "$tool" checkdefconf
step "$tool" readdefconf "$work/defconf.out"
cmp "$work/defconf.txt" "$work/defconf.out" && echo "default configuration read back intact"

echo; echo "=== the same upgrade again: every image already in place is compared and left alone;"
echo "    the two default configuration records are rewritten, their areas erased whole"
erases() { "$ctl" ops | awk '$1 == "erases" { print $2 }'; }
before=$(erases)
step "$tool" upgradeFW "${set_args[@]}"
echo "this upgrade erased $(($(erases) - before)) blocks: the two default configuration areas"

echo; echo "=== a temporary configuration record, written twice and read back"
printf 'volume=7\n' > "$work/temp.txt"
step "$tool" writetempconf "$work/temp.txt"
step "$tool" readtempconf "$work/temp.out"
cmp "$work/temp.txt" "$work/temp.out" && echo "temporary configuration read back intact"

echo; echo "=== power lost while the upgrade rewrote kernel 0; at the next boot the boot script"
echo "    (flashstatus is 1: the backups are complete) repairs it from the backup"
head -c 4096 /dev/urandom > "$work/junk"
step "$ctl" load "$work/junk" 0x340000
"$ctl" save "$work/k0" 0x300000 "$(stat -c %s "$work/kernel.img")"
cmp -s "$work/kernel.img" "$work/k0" || echo "kernel 0 no longer holds the kernel image"
# The script finds the tool and the device's flashstatus command (the simulator's stand-in) by name.
boot() { PATH="$NANDKEEP_SIM_DIR/bin:$PATH" NANDKEEP=$tool sh boot/nandkeep-boot.sh "$@"; }
step boot recover
"$ctl" save "$work/k0" 0x300000 "$(stat -c %s "$work/kernel.img")"
"$ctl" save "$work/k1" 0xC00000 "$(stat -c %s "$work/kernel.img")"
cmp -s "$work/kernel.img" "$work/k0" && cmp -s "$work/kernel.img" "$work/k1" &&
  echo "both kernel copies hold the kernel image again"
echo "once the system is up, the script's other entry point sets flashstatus back to 0"
step boot booted
step "$ctl" flashstatus
step "$ctl" ops
