Start-up where the simulator's own files stand for the system's: /proc/mtd removed, a lock
that cannot be taken. Every failure ends the run with status 255 before the command line is
read, so even info and the usage text are refused.

  $ . "$TESTDIR/lib.sh" && nk_only sim
  $ nk_device 128

A partition list that is missing is named in the message.

  $ rm "$NANDKEEP_SIM_DIR/proc_mtd"; nandkeep info
  
   Nandkeep notify -> fopen()
  /proc/mtd (no-eol)
  [255]

A device that cannot be locked runs no command; info, which never touches the flash, still runs.

  $ nk_device 128 && rm -f "$NANDKEEP_SIM_DIR/lock"; mkdir "$NANDKEEP_SIM_DIR/lock"; nandkeep writetempconf "$IN/five.txt"
  
   Nandkeep notify -> cannot lock the flash device
  [255]
  $ nandkeep info | head -n 1
  Build info: $Id: 1.0.1.26,nandkeep,2017/04/18 12:00:00 $

The simulated chip keeps time as a chip does (a page read 25 us, a page program 250 us, a block
erase 2 ms), so everything a terminal is shown is fixed: after the first figure of a step, a new
one at most every 200 ms of the chip's time; the percentages are of the range the step works on,
wherever it lies (the rootfs copies lie far from 0); the time left is paced by the blocks done;
a repair's copy that ends 200 ms or more after its last figure draws its end, copying 100 %.
Shown: every figure drawn, a line a step.

  $ rmdir "$NANDKEEP_SIM_DIR/lock" && e=$(printf '\033') && on() { script -qefc "$*" /dev/null </dev/null >tty.raw; tr '\r' '\n' <tty.raw | sed -n "s/^$e\[K\(.\)/\1/p" |
  >   awk '{ k = $0; sub(/: [^:]*$/, "", k); v = substr($0, length(k) + 3) } k != p { if (NR > 1) print l; p = k; l = k ":" } { l = l " " v } END { print l }'; }
  $ on nandkeep eraseAll \>/dev/null
  eraseAll: erasing 0 % erasing 9 % erasing 19 % erasing 29 % erasing 39 % erasing 48 % erasing 58 % erasing 68 % erasing 78 % erasing 87 % erasing 97 %
  $ on nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" \>/dev/null
  upgradeFW: boot: erasing 0 %
  upgradeFW: rootfs 1: erasing 0 % erasing 39 % erasing 78 % writing 21 % writing 72 %
  upgradeFW: default values 1: erasing 0 % erasing 43 % erasing 86 %
  upgradeFW: kernel 1: erasing 0 % writing 33 %
  upgradeFW: DTB 1: erasing 0 %
  upgradeFW: kernel 0: erasing 0 % writing 33 %
  upgradeFW: DTB 0: erasing 0 %
  upgradeFW: rootfs 0: erasing 0 % erasing 39 % erasing 78 % writing 21 % writing 72 %
  upgradeFW: default values 0: erasing 0 % erasing 43 % erasing 86 %
  $ nandkeep write "$IN/five.txt" 1540000 20000 && on nandkeep systemRecovery 1 \>/dev/null
  systemRecovery: kernel pair: checking 8 %
  systemRecovery: rootfs pair: checking 4 % erasing 27 % erasing 66 % copying 8 % copying 55 % copying 100 % erasing 17 % erasing 60 % copying 100 %
  $ nk_device 128 overridesize=4 && on nandkeep flashVerify \>/dev/null
  flashVerify: reference: erasing 0 % writing 75 %
  flashVerify: first check: reading 6 %
  flashVerify: patterns: block 1 of 16 block 2 of 16, about 0 min 01 s left block 3 of 16, about 0 min 01 s left block 4 of 16, about 0 min 01 s left block 5 of 16, about 0 min 01 s left block 6 of 16, about 0 min 01 s left block 7 of 16, about 0 min 01 s left block 8 of 16, about 0 min 00 s left block 9 of 16, about 0 min 00 s left block 10 of 16, about 0 min 00 s left block 11 of 16, about 0 min 00 s left block 12 of 16, about 0 min 00 s left block 13 of 16, about 0 min 00 s left block 14 of 16, about 0 min 00 s left block 15 of 16, about 0 min 00 s left block 16 of 16, about 0 min 00 s left
