The flash primitives as the commands show them, with faults that only the simulator stages:
short transfers. say prints a command's status and its words. (A chunk that does not read back
as written: upgrade-sim.t; a program that fails: upgrade.t.)

  $ . "$TESTDIR/lib.sh" && nk_only sim

A piece is read by at most two calls that deliver data: a second call warns on standard output
and in the system log; when it still leaves bytes missing, a third call fails the piece.

  $ nk_device 128 && nk_simctl fault add short-read 1 && nandkeep eccStatus 0 20000
  Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0
  iCnt = 2, ulSize = 0, iReturn = 65536
  At 0x0 offset ECC corrected = 0, failed = 0
  $ nk_simctl fault add short-read 2 && say nandkeep eccStatus 0 20000
  255 Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0 iCnt = 2, ulSize = 32768, iReturn = 32768 iCnt = 2 Nandkeep notify -> read fail
  $ nk_syslog | uniq -c | sed 's/^ *//'
  2 user.err nandkeep: SYSTEM WARNING! read() System too slow!

The recovery's single pass reads by the same rules, so a healthy pair read with short calls gives
what the step-by-step recovery gives: the warning of a second call, and a first piece that fails
is the source check's read, which fails the region's recovery once (the other direction then
finds the pair whole).

  $ nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_erased >/dev/null
  $ for a in "1" "2" "2 1"; do nk_simctl fault add short-read ${a% *} && say nandkeep systemRecovery ${a#?}; done
  0 iCnt = 2, ulSize = 0, iReturn = 65536 recovered image
  0 iCnt = 2, ulSize = 32768, iReturn = 32768 iCnt = 2 Nandkeep notify -> read fail Nandkeep notify -> check Source mkimg fail recovered image
  255 iCnt = 2, ulSize = 32768, iReturn = 32768 iCnt = 2 Nandkeep notify -> read fail Nandkeep notify -> check Source mkimg fail recovered image
  $ nk_syslog | uniq -c | sed 's/^ *//'; nk_erased
  3 user.err nandkeep: SYSTEM WARNING! read() System too slow!

A read call that fails outright, each of a repair's in turn (kernel 0's DTB replaced by B's):
where the single pass's read fails, the step-by-step recovery still repairs the pair (0); a
failing read of a step fails that region's recovery with the step's message.

  $ nandkeep write "$IN/B.dtb" 480000 780000 && nk_sweep read-fail nandkeep systemRecovery 1
  48x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> check Source mkimg fail recovered image
  38x 0 iCnt = 0 Nandkeep notify -> read fail recovered image
  2x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> check Source DTB image fail recovered image
  1x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> read MTD fail Nandkeep notify -> Nandkeep_RecoveryMkimg fail recovered image
  24x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> Nandkeep_RecoveryMkimg fail recovered image
  12x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> get ulDestSubOffset fail recovered image
  1x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> get ulImageLen fail recovered image
  4x 255 iCnt = 0 Nandkeep notify -> read fail recovered image
  1x 254 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> recover image fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source DTB image fail recovered image
  1x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> recover image fail recovered image
  1x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> check Source defconf image fail recovered image

The same with a request for the ECC counters that fails, each in turn: a write's comparisons, the
ECC report, and the repair (where the single pass's request fails, the step-by-step recovery
repairs the pair without a word).

  $ nk_sweep ecc-fail nandkeep systemRecovery 1; nk_device 128 && for a in "write $IN/block.txt 200000 20000" "eccStatus 0 40000"; do nk_sweep ecc-fail nandkeep $a; done
  40x 0 recovered image
  36x 255 Nandkeep notify -> check Source mkimg fail recovered image
  1x 255 Nandkeep notify -> check Source DTB image fail recovered image
  24x 255 Nandkeep notify -> ioctl(ECCGETSTATS) Nandkeep notify -> Nandkeep_RecoveryMkimg fail recovered image
  4x 255 Nandkeep notify -> ioctl(ECCGETSTATS) recovered image
  2x 255 Nandkeep notify -> ioctl(ECCGETSTATS) Nandkeep notify -> recover image fail recovered image
  1x 255 Nandkeep notify -> check Source defconf image fail recovered image
  4x 255 Nandkeep notify -> ioctl(ECCGETSTATS) Nandkeep notify -> Compare image and flash fail
  2x 255 Nandkeep notify -> ioctl(ECCGETSTATS)
  1x 255 Nandkeep notify -> ioctl(ECCGETSTATS)
  1x 255 Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0 Nandkeep notify -> ioctl(ECCGETSTATS)
  1x 255 Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0 At 0x0 offset ECC corrected = 0, failed = 0 Nandkeep notify -> ioctl(ECCGETSTATS)

A write piece is sent by as many calls as it takes: from the second call on each is reported,
from the third on also notified, and the bytes all arrive.

  $ nk_simctl fault add short-write 3 && nandkeep write "$IN/block.txt" 200000 20000
  iCnt = 2, ulSize = 32768, iReturn = 32768
  iCnt = 2, iReturn = 16384
  
   Nandkeep notify -> write fail
  iCnt = 3, ulSize = 16384, iReturn = 16384
  iCnt = 3, iReturn = 16384
  
   Nandkeep notify -> write fail
  iCnt = 4, ulSize = 0, iReturn = 16384
  $ nk_syslog | uniq -c | sed 's/^ *//'; nk_same 0x200000 "$IN/block.txt"
  3 user.err nandkeep: SYSTEM WARNING! write() System too slow!
  same

