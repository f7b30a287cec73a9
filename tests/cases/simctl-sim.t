The simulator's control tool. Bad arguments exit with 2, a failing device or file operation
with 1, and neither changes the device. Every read is bounded by what the command can use (a
source without end is refused, not read); the address-space limit keeps a regression from eating
the machine, where the build runs under it at all.

  $ . "$TESTDIR/lib.sh" && nk_only sim
  $ ctl() { "$NK_SIMCTL" "$@"; }; ctl create --blocks 48 >/dev/null
  $ printf 'p 0x0 0x700000\n' >t.txt; head -c 65537 /dev/zero >big.img; mkfifo fifo
  $ ulimit -S -v 1000000; ctl info >/dev/null 2>&1 || ulimit -S -v unlimited
  $ for a in '' frobnicate 'create --profile 64' 'create --bbt 2' 'fault add nonsense 1' \
  >   'fault add bitflip 3 1 --page 64' 'fault frob' '--dir nowhere info' 'load missing.img' \
  >   'save out.img 0x600001' 'create --blocks 48 --table t.txt' 'load /dev/zero' \
  >   'load big.img 0x5F0000' 'load fifo'
  > do ctl $a >out 2>&1; echo "$? $(head -n 1 out)"; done | sed "s:$PWD/::"
  2 usage: nandkeep-simctl [--dir DIR] COMMAND [ARGS]
  2 nandkeep-simctl: unknown command 'frobnicate'
  2 nandkeep-simctl: create: profile '64': the profiles are 128 and 256
  2 nandkeep-simctl: create: --bbt goes with --blocks or --size
  2 nandkeep-simctl: fault add: unknown fault kind 'nonsense'
  2 nandkeep-simctl: fault add: --page wants a page from 0 to 63
  2 nandkeep-simctl: fault: want 'add', 'list' or 'clear', not 'frob'
  1 nandkeep-simctl: no simulated device in nowhere (No such file or directory): create one first
  1 nandkeep-simctl: cannot read missing.img: No such file or directory
  1 nandkeep-simctl: range 0x600001+0x0 lies outside the 0x600000-byte device
  1 nandkeep-simctl: partition 0 (p) runs past the 0x600000-byte device
  1 nandkeep-simctl: cannot read /dev/zero: not a regular file
  1 nandkeep-simctl: big.img holds more than the 0x10000 bytes from offset 0x5f0000 to the device end
  1 nandkeep-simctl: cannot read fifo: not a regular file
  $ ctl info | head -n 1; ctl fault list; ctl bad
  size 0x00600000 (48 blocks of 0x20000 bytes, pages of 0x800 bytes)

The compiled-in tables of the profiles are the ones the real-kernel tier gives nandsim. Create,
inject, inspect and clear.

  $ for p in 128 256; do ctl create --profile $p >/dev/null; grep -v '^#' flash/partitions >a
  > grep -v '^#' "$TESTDIR/../../sim/tables/mtd$p.txt" | cmp - a; done

  $ printf 'all 0 0x600000\nhigh 0x400000 0x200000\n' >t.txt
  $ ctl create --blocks 48 --bbt 2 --seed 7 --table t.txt | sed "s:$PWD/::"
  created a 6144 KiB device (48 blocks, 2 partitions) in flash
  $ ctl fault add bitflip 3 2 --page 5; ctl fault add wear-out 0x10 4; ctl fault add bad 7
  $ ctl fault add uncorrectable 9; ctl fault add powercut 3; ctl fault list
  block 3 bitflip 2 page 5
  block 7 bad
  block 9 uncorrectable page 0
  block 16 wear-out 4
  device powercut 3
  $ ctl mark 40; ctl bad; echo $(ctl ecc) / $(ctl ecc 1)
  7 0x000e0000
  40 0x00500000
  corrected 0 failed 0 badblocks 2 bbtblocks 2 / corrected 0 failed 0 badblocks 1 bbtblocks 2
  $ ctl unmark 40; ctl fault clear 7; ctl bad; ctl fault clear; ctl fault list
  $ ctl flashstatus 1; ctl flashstatus; echo $(ctl ops)
  1
  ops 0 erases 0 programs 0 non-erased-programs 0
  $ for f in syslog:syslog:16777217 syslog:status:16777217 flashstatus:flashstatus:4097; do
  > n=${f##*:}; f=${f%:*}; rm -f flash/${f%:*}; dd if=/dev/zero of=flash/${f%:*} bs=1 count=0 seek=$n 2>/dev/null
  > ctl ${f#*:} >out 2>&1; echo "$? $(head -n 1 out)"; done | sed "s:$PWD/::"
  1 nandkeep-simctl: flash/syslog holds more than 16777216 bytes; not read
  1 nandkeep-simctl: flash/syslog holds more than 16777216 bytes; not read
  1 nandkeep-simctl: flash/flashstatus holds more than 4096 bytes; not read
