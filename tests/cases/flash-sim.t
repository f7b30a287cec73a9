The flash primitives and comparisons as the commands show them, with faults that only the
simulator stages: short transfers, programs that do not hold, bit flips on demand.

  $ . "$TESTDIR/lib.sh"
  $ nk_only sim
  $ ctl() { "$NK_SIMCTL" "$@"; }

A piece is read by at most two calls that deliver data: a second call warns on standard output
and in the system log; when it still leaves bytes missing, a third call fails the piece.

  $ nk_device 128
  $ ctl fault add short-read 1 && nandkeep eccStatus 0 20000
  Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0
  iCnt = 2, ulSize = 0, iReturn = 65536
  At 0x0 offset ECC corrected = 0, failed = 0
  $ ctl fault add short-read 2 && nandkeep eccStatus 0 20000
  Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0
  iCnt = 2, ulSize = 32768, iReturn = 32768
  iCnt = 2
  
   Nandkeep notify -> read fail
  [255]
  $ nk_syslog
  SYSTEM WARNING! read() System too slow!
  SYSTEM WARNING! read() System too slow!

The recovery's single pass reads by the same rules, so a healthy pair read with short calls gives
what the step-by-step recovery gives: the warning of a second call, and a first piece that fails
is the source check's read, which fails the region's recovery once (the other direction then
finds the pair whole).

  $ nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_erased >/dev/null
  $ ctl fault add short-read 1 && nandkeep systemRecovery; echo $?
  iCnt = 2, ulSize = 0, iReturn = 65536
  recovered image
  0
  $ ctl fault add short-read 2 && nandkeep systemRecovery; echo $?
  iCnt = 2, ulSize = 32768, iReturn = 32768
  iCnt = 2
  
   Nandkeep notify -> read fail
  
   Nandkeep notify -> check Source mkimg fail
  recovered image
  0
  $ ctl fault add short-read 2 && nandkeep systemRecovery 1; echo $?
  iCnt = 2, ulSize = 32768, iReturn = 32768
  iCnt = 2
  
   Nandkeep notify -> read fail
  
   Nandkeep notify -> check Source mkimg fail
  recovered image
  255
  $ nk_syslog; nk_erased
  SYSTEM WARNING! read() System too slow!
  SYSTEM WARNING! read() System too slow!
  SYSTEM WARNING! read() System too slow!

A write piece is sent by as many calls as it takes: from the second call on each is reported,
from the third on also notified, and the bytes all arrive.

  $ ctl fault add short-write 3 && nandkeep write "$IN/block.txt" 200000 20000
  iCnt = 2, ulSize = 32768, iReturn = 32768
  iCnt = 2, iReturn = 16384
  
   Nandkeep notify -> write fail
  iCnt = 3, ulSize = 16384, iReturn = 16384
  iCnt = 3, iReturn = 16384
  
   Nandkeep notify -> write fail
  iCnt = 4, ulSize = 0, iReturn = 16384
  $ nk_syslog; nk_same 0x200000 "$IN/block.txt"
  SYSTEM WARNING! write() System too slow!
  SYSTEM WARNING! write() System too slow!
  SYSTEM WARNING! write() System too slow!
  same

Every chunk is read back: a block with stuck bits or whose program is lost is erased, marked
bad, and the chunk goes to the next good block; a program that fails marks the block it was
written to and ends the write.

  $ nk_device 128
  $ ctl fault add stuck-bits 8 8 && ctl fault add program-lost 10 && ctl fault add program-fail 13
  $ nandkeep write "$IN/A.kernel" 100000 400000
  
   Nandkeep notify -> Image is not match.
  
   Nandkeep notify -> Image is not match.
  [255]
  $ nk_erased; nk_bad; nk_syslog
  8-39 8 8 10 10 13
  8 10 13
  NANDKEEP ERROR! Compare image fail!
  NANDKEEP ERROR! Compare image fail!

The ECC event rule of the comparisons: an uncorrectable read retires the block on both
profiles, a corrected one only on the 1-bit ECC profile (128 MiB); the file goes around it.

  $ nk_device 128
  $ nandkeep write "$IN/block.txt" 100000 40000 && ctl fault add bitflip 8
  $ nandkeep write "$IN/block.txt" 100000 40000 && nk_erased && nk_bad
  > nk_same 0x120000 "$IN/block.txt"
  8-9 8-9
  8
  same
  $ nk_device 256
  $ nandkeep write "$IN/block.txt" 100000 40000 && nk_erased >/dev/null && ctl fault add bitflip 8
  $ nandkeep write "$IN/block.txt" 100000 40000 && nk_erased
  $ ctl fault add uncorrectable 8 && nandkeep write "$IN/block.txt" 100000 40000 && nk_erased
  8-9
  $ nk_bad; nk_same 0x120000 "$IN/block.txt"
  8
  same

A file is compared with the good blocks of its region in order, a difference is seen in
either direction, and a region that runs out of good blocks before the file's end does not
hold it. Nothing was ever programmed over bytes that were not erased.

  $ nk_device 128 badblocks=9,19
  $ nandkeep write "$IN/A.kernel" 100000 200000 && nk_erased
  8 10-18 20-23
  $ nandkeep write "$IN/A.kernel" 100000 200000 && nk_erased
  $ nandkeep write "$IN/A.kernel" 100000 180000
  
   Nandkeep notify -> write fail: Not enought flash space
  [255]
  $ nk_erased; printf '7\n8\n:' >up.txt; printf '7\n8\n8' >down.txt
  8 10-18
  $ for f in "$IN/five.txt" up.txt down.txt; do nandkeep write $f 600000 20000; done; nk_erased
  48 48 48
  $ ctl ops | grep non-erased
  non-erased-programs 0

An erase skips bad blocks without going further and marks a block whose erase fails and goes
on; a single block that fails answers 255, once: then it is bad and skipped. A length inside a
block erases the whole block.

  $ nk_device 128 badblocks=21 weakblocks=31:0,40:0,41:0
  $ nandkeep erase 280000 60000 && nandkeep erase 3c0000 60000
  find a bad block (no-eol)
  $ nandkeep erase 500000 20000
  find a bad block (no-eol)
  [255]
  $ nandkeep erase 500000 20000 && nandkeep erase 520000 10000 && nandkeep erase 640000 30000
  find a bad block (no-eol)
  $ nk_erased; nk_bad
  20 22 30-31 31-32 40 40-41 41 50-51
  21 31 40-41

The verify comparison of flashVerify logs a correction and still compares the bytes, retires a
block on an uncorrectable read, and logs a difference with the byte comparison's value.

  $ ctl create --blocks 3 >/dev/null && ctl fault add bitflip 1 && ctl fault add uncorrectable 2
  $ nandkeep flashVerify >out
  [4]
  $ grep CompareVerify out; nk_bad
  Nandkeep_CompareVerifyBufAndMTD stECCStats.corrected = 2
  Nandkeep_CompareVerifyBufAndMTD stECCStats.failed = 2
  Nandkeep_CompareVerifyBufAndMTD ulMTDOffset = 0x20000
  Nandkeep_CompareVerifyBufAndMTD stECCStats.corrected = 2
  Nandkeep_CompareVerifyBufAndMTD stECCStats.failed = 3
  Nandkeep_CompareVerifyBufAndMTD ulMTDOffset = 0x40000
  Nandkeep_CompareVerifyBufAndMTD SetBadBlockToBBT ulMTDOffset = 0x40000
  Nandkeep_CompareVerifyBufAndMTD stECCStats.corrected = 3
  Nandkeep_CompareVerifyBufAndMTD stECCStats.failed = 3
  Nandkeep_CompareVerifyBufAndMTD ulMTDOffset = 0x20000
  2
  $ ctl create --blocks 2 >/dev/null && ctl fault add stuck-bits 1 64 && nandkeep flashVerify >out
  [4]
  $ grep -e differnet -e memcmp out; cat flash/syslog
  The image is differnet, ulMTDOffset = 0x00020000
  The image memcmp = [1-9][0-9]* (re)
  The image is differnet, ulMTDOffset = 0x00020000
  The image memcmp = [1-9][0-9]* (re)
  NANDKEEP ERROR! Compare image fail!
  NANDKEEP ERROR! Compare image fail!
